#include "ui/shell/shell_text.h"

#include <QFile>

#include "core/global.h"

int shownLanguage()
{
    const int lang = g_language.load();
    if (lang < 0 || lang > kLangTraditional || !(g_lcd_lang_valid & (1u << lang)))
        return kLangEnglish;
    return lang;
}

QString langText(const LangText& row)
{
    const char* texts[5] = {row.zh, row.en, row.ru, row.vn, row.tw};
    return QString::fromUtf8(texts[shownLanguage()]);
}

QString langImage(const QString& name)
{
    static const char* const kPrefix[5] = {"", "en_", "ru_", "vn_", "tn_"};
    const QString variant = QStringLiteral(":/png/") + kPrefix[shownLanguage()] + name;
    if (QFile::exists(variant))
        return variant;
    return QStringLiteral(":/png/") + name;
}
