// Texts and images of the five display languages.
//
// Every user-visible text is a row of five translations in the order of g_language: simplified
// Chinese, English, Russian, Vietnamese, traditional Chinese. A page shows English when the
// current language is not offered (its bit in g_lcd_lang_valid is clear).
#pragma once

#include <QString>

struct LangText {
    const char* zh;
    const char* en;
    const char* ru;
    const char* vn;
    const char* tw;
};

constexpr int kLangChinese = 0;
constexpr int kLangEnglish = 1;
constexpr int kLangRussian = 2;
constexpr int kLangVietnamese = 3;
constexpr int kLangTraditional = 4;

// The language the pages show: g_language when g_lcd_lang_valid offers it, else English.
int shownLanguage();
// The text of `row` in the shown language (UTF-8 source texts).
QString langText(const LangText& row);
// ":/png/" + the language's prefix ("", "en_", "ru_", "vn_", "tn_") + name, or ":/png/" + name
// when the resources hold no variant for the language.
QString langImage(const QString& name);

namespace shell {

// Texts that pages of several kinds show.
inline constexpr LangText kTextCancel = {"取消", "Cancel", "Отмена", "Hủy bỏ", "取消"};
inline constexpr LangText kTextOk = {"确定", "OK", "OK", "Đồng ý", "確定"};
inline constexpr LangText kTextApply = {"应用", "Apply", "OK", "Đồng ý", "應用"};
inline constexpr LangText kTextWidth = {"宽", "W", "Ширина", "Rộng", "寬"};
inline constexpr LangText kTextHeight = {"高", "H", "Высота", "Cao", "高"};
inline constexpr LangText kTextNoSignal = {"无信号", "No signal", "Нет сигнала", "Không có tín hiệu", "無信號"};

}  // namespace shell
