#include "ui/video/video_common.h"

#include <QComboBox>
#include <QFrame>
#include <QPushButton>
#include <QFontMetrics>
#include <QLabel>
#include <QListView>
#include <QPalette>
#include <QSignalBlocker>

#include <cstring>

#include "core/alias.h"
#include "core/para_commit.h"
#include "core/ram_layout.h"
#include "core/zelrampara.h"
#include "ui/shell/shell_widgets.h"

namespace video {

namespace {

constexpr const char* kInputNames[kInputs] = {"EXT", "DVI", "HDMI1", "HDMI2", "HDMI3", "HDMI4"};
constexpr int kCropIds = 40;
constexpr unsigned kCropIdMask = 0x7F;
constexpr unsigned kCropIdShift = 8;   // a crop's id sits in bits 8-14 of its source word
// The green dot of the window and source cards.
constexpr const char* kGreenDot = "background-color:#00D65B;border:0px groove gray;border-radius:7px;";

unsigned char* blank()
{
    static unsigned char zeros[ramaddr::kRamSize] = {};
    return zeros;
}

}  // namespace

QString inputName(int input)
{
    return input >= 0 && input < kInputs ? QString::fromLatin1(kInputNames[input]) : QString();
}

int16_t toShort(const QString& text)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    return ok && v >= -32768 && v <= 32767 ? static_cast<int16_t>(v) : 0;
}

int sourceCount(int input)
{
    ZelRamPara* m = ZelRamPara::p_zelrampara_config;
    return (m ? m->ZelGetSourceNum(input, static_cast<int>(ramaddr::kCropEntries)) : 0) + 1;
}

int lastCardPage(int total, int perPage)
{
    return total / perPage - (total % perPage == 0 ? 1 : 0);
}

unsigned char* image()
{
    ZelRamPara* m = ZelRamPara::p_zelrampara_config;
    return m ? m->ram_para : blank();
}

const unsigned char* shadow()
{
    ZelRamPara* m = ZelRamPara::p_zelrampara_config;
    return m ? m->ram_para_shadow : blank();
}

uint16_t word(unsigned addr) { return ram_get_u16(image(), addr); }

bool differs(unsigned addr, unsigned len) { return std::memcmp(image() + addr, shadow() + addr, len) != 0; }

void commitWords(std::initializer_list<FieldWrite> writes)
{
    ParaCommit commit;
    for (const FieldWrite& w : writes)
        ram_set_u16(image(), w.addr, w.value);
    commit.set(1);
}

void commitLowBytes(std::initializer_list<FieldWrite> writes)
{
    ParaCommit commit;
    for (const FieldWrite& w : writes)
        image()[w.addr] = static_cast<unsigned char>(w.value & 0xFF);
    commit.set(1);
}

WindowSource windowSource(int window)
{
    WindowSource s;
    ZelRamPara* m = ZelRamPara::p_zelrampara_config;
    if (!m || window < 0 || window >= kWindows)
        return s;
    short crop = 0;
    char index = 0;
    s.input = m->ZelGetImageSource(m->ram_para, static_cast<unsigned char>(window), &crop, &index, 0);
    s.crop = crop != 0;
    s.cropIndex = s.crop ? static_cast<unsigned char>(index) : 0;
    return s;
}

int cropOrdinalOfEntry(int entry)
{
    if (entry < 0 || entry >= static_cast<int>(ramaddr::kCropEntries))
        return 0;
    const unsigned char* e = image() + ramaddr::cropEntry(static_cast<unsigned>(entry));
    if (!(e[1] & ramaddr::kCropValid) || e[0] >= kInputs)
        return 0;
    const int input = e[0];
    const int id = static_cast<int>(e[1] & kCropIdMask) + 1;
    // The cards count the ids in use of g_cut_source_state, so this counts the same bits.
    int ordinal = 0;
    for (int k = 1; k <= id && k <= kCropIds; ++k) {
        const unsigned bit = static_cast<unsigned>(input * kCropIds + k - 1);
        if ((g_cut_source_state[bit / 8] >> (bit % 8)) & 1u)
            ++ordinal;
    }
    return ordinal;
}

QString aliasOr(const char* section, int id, const QString& fallback, const QLabel* label, int width)
{
    ALIAS_PARA alias;
    if (!get_json_alias_para(&alias, section, id))
        return fallback;
    const QString name = QString::fromStdString(alias.name);
    if (!label)
        return name;
    return QFontMetrics(label->font()).elidedText(name, Qt::ElideRight, width, Qt::TextShowMnemonic);
}

Signal inputSignal(int input)
{
    Signal s;
    if (input < 0 || input >= kInputs)
        return s;
    const unsigned base = ramaddr::kInputSummary + 6u * static_cast<unsigned>(input);
    unsigned char record[6] = {};
    // The input-source manager rewrites the summary from its poll thread under this mutex.
    if (ZelRamPara* m = ZelRamPara::p_zelrampara_config) {
        pthread_mutex_lock(&m->mutex);
        std::memcpy(record, m->ram_para + base, sizeof record);
        pthread_mutex_unlock(&m->mutex);
    }
    s.width = ram_get_u16(record, 0);
    s.height = ram_get_u16(record, 2);
    // The rate is one byte; the byte after it is the receiver's no-signal flag.
    s.rate = record[5] ? 0 : record[4];
    return s;
}

QString signalText(int input)
{
    const Signal s = inputSignal(input);
    return s.present() ? QStringLiteral("%1x%2@%3Hz").arg(s.width).arg(s.height).arg(s.rate)
                       : langText(shell::kTextNoSignal);
}

namespace {

constexpr const char* kWindowCardStyles[kWindows] = {
    "background-color: #867AE9;font: 16px", "background-color: #005A8D;font: 16px",
    "background-color: #39A9CB;font: 16px", "background-color: #EBA83A;font: 16px",
    "background-color: #FF96AD;font: 16px", "background-color: #D5E5FF;font: 16px",
};
// Text on the card's colour: light on the dark blue of window 2, dark on the others.
constexpr QRgb kWindowCardInk[kWindows] = {0x10101C, 0xFFFFFF, 0x10101C, 0x10101C, 0x10101C, 0x10101C};

}  // namespace

QLabel* makeWindowCard(QWidget* strip, int window, int x)
{
    const int w = window >= 0 && window < kWindows ? window : 0;
    QLabel* card = shell::makeLabel(strip, QStringLiteral("card_%1").arg(w), x, 3, 120, 90, kWindowCardStyles[w],
                                    Qt::AlignCenter);
    card->setText(QString::number(w + 1));
    QPalette ink = card->palette();
    ink.setColor(QPalette::WindowText, QColor(kWindowCardInk[w]));
    card->setPalette(ink);
    QLabel* name = shell::makeLabel(card, QStringLiteral("card_text_%1").arg(w), 0, 3, 100, 28,
                                    "background:transparent;font:bold 15px;", Qt::AlignCenter);
    name->setPalette(ink);
    shell::makeLabel(card, QStringLiteral("card_dot_%1").arg(w), 101, 8, 14, 14, kGreenDot);
    return name;
}

void setComboEntries(QComboBox* combo, const QStringList& entries, int selected)
{
    const QSignalBlocker block(combo);
    combo->clear();
    combo->setView(new QListView(combo));
    combo->addItems(entries);
    combo->setCurrentIndex(selected >= 0 && selected < entries.size() ? selected : 0);
}

void selectComboQuietly(QComboBox* combo, int index)
{
    const QSignalBlocker block(combo);
    combo->setCurrentIndex(index);
}

// ---- input tabs and source cards ------------------------------------------------------------------

namespace {

constexpr const char* kTabIcons[kInputs] = {":/png/HDMI.png", ":/png/DVI.png", ":/png/HDMI13.png",
                                            ":/png/HDMI13.png", ":/png/HDMI20.png", ":/png/HDMI20.png"};
constexpr const char* kCardFrame = "background-color: #212435;border:1px solid #CCCCCC;";
constexpr const char* kCardText = "background-color:#212435;color:#FFFFFF";

}  // namespace

InputTabs makeInputTabs(QWidget* page, bool withCounts)
{
    InputTabs tabs{};
    for (int k = 0; k < kInputs; ++k) {
        const int input = kTabInputs[k];
        const QString key = inputName(input);
        QFrame* tile = shell::makePanel(page, "tab_" + key, 21 + 130 * k, 69, 118, 83);
        QLabel* icon = shell::makeLabel(tile, "label_" + key, 9, 8, 100, 32, "background:transparent;");
        icon->setPixmap(QPixmap(QString::fromLatin1(kTabIcons[input])));
        icon->setScaledContents(true);
        QLabel* name = shell::makeLabel(tile, QStringLiteral("label_%1").arg(3 + k), 4, 46, withCounts ? 66 : 110,
                                        30, "color:#FFFFFF;font:16px;background:transparent;",
                                        withCounts ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignCenter);
        name->setText(key);
        if (withCounts)
            tabs.count[k] = shell::makeLabel(tile, key + "_num", 72, 46, 44, 30,
                                             "color: rgb(71, 119, 255);font:bold 16px;background:transparent;");
        tabs.button[k] = shell::makeFlatButton(page, QString::number(k), 21 + 130 * k, 69, 118, 83);
    }
    tabs.highlight = new QFrame(page);
    tabs.highlight->setObjectName("frame_tab");
    tabs.highlight->setStyleSheet(kTabOutline);
    tabs.highlight->setAttribute(Qt::WA_TransparentForMouseEvents);
    moveTabHighlight(tabs, 0);
    return tabs;
}

void moveTabHighlight(InputTabs& tabs, int tab)
{
    tabs.highlight->setGeometry(20 + 130 * tab, 68, 120, 85);
    tabs.highlight->raise();
}

QFrame* makeSourceContainer(QWidget* page)
{
    auto* container = new QFrame(page);
    container->setObjectName("frame_source");
    container->setGeometry(20, 152, 770, 240);
    container->setStyleSheet("#frame_source{border:1px solid rgb(71, 119, 255);}");
    container->lower();
    return container;
}

SourceCard makeSourceCard(QFrame* container, int place, int input, const QFont& font)
{
    const int dx = 240 * (place % 3);
    const int dy = 110 * (place / 3);
    const QString n = QString::number(place);
    auto* frame = new QFrame(container);
    frame->setObjectName("card_" + n);
    frame->setGeometry(10 + dx, 15 + dy, 220, 90);
    frame->setStyleSheet(kCardFrame);
    shell::makeLabel(container, "label_dot_" + n, 20 + dx, 25 + dy, 14, 14, kGreenDot);
    QLabel* icon = shell::makeLabel(container, "label_icon_" + n, 39 + dx, 20 + dy, 63, 24, "background-color: #212435;");
    icon->setPixmap(QPixmap(input == 1 ? ":/png/DVI.png" : ":/png/HDMI.png"));
    icon->setScaledContents(true);
    SourceCard card{};
    card.name = shell::makeLabel(container, "label_name_" + n, 20 + dx, 44 + dy, 172, 28, kCardText);
    card.detail = shell::makeLabel(container, "label_detail_" + n, 20 + dx, 72 + dy, 172, 28, kCardText);
    card.name->setFont(font);
    card.detail->setFont(font);
    card.button = shell::makeFlatButton(container, n, 11 + dx, 16 + dy, 218, 88);
    return card;
}

void describeSource(int input, const QString& inputName, int ordinal, QLabel* name, QLabel* detail)
{
    if (ordinal == 0) {
        name->setText(inputName);
        detail->setText(signalText(input));
        return;
    }
    CROP_PARA crop = {};
    int index = static_cast<int>(ramaddr::kCropEntries);
    if (ZelRamPara* m = ZelRamPara::p_zelrampara_config)
        m->ZelGetCropPara(input, ordinal, &crop, &index);
    if (index >= static_cast<int>(ramaddr::kCropEntries)) {
        name->setText(inputName);   // no entry holds the crop: nothing to describe
        return;
    }
    const int id = static_cast<int>((static_cast<unsigned>(crop.source) >> kCropIdShift) & kCropIdMask) + 1;
    name->setText(aliasOr("crop", index, inputName + QStringLiteral("_crop%1").arg(id), name, name->width()));
    detail->setText(QStringLiteral("%1x%2").arg(crop.width & 0xFFFF).arg(crop.height & 0xFFFF));
}

namespace {

constexpr const char* kEditFrame = "#frame_add{background-color:#212435;border:1px solid #4777FF;border-radius:8px;}";
constexpr const char* kEditButton = "color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);font:20px";
constexpr int kEditButtonY = 406;
constexpr int kEditButtonW = 180;
constexpr int kEditButtonH = 60;

QPushButton* editButton(QWidget* page, const QString& name, const QFont& font)
{
    auto* b = new QPushButton(page);
    b->setObjectName(name);
    b->setFocusPolicy(Qt::NoFocus);
    b->setFont(font);
    b->setStyleSheet(kEditButton);
    b->hide();
    return b;
}

}  // namespace

EditPanel makeEditPanel(QWidget* page, const QString& okName, const QFont& buttonFont)
{
    EditPanel panel{};
    panel.frame = new QFrame(page);
    panel.frame->setObjectName("frame_add");
    panel.frame->setGeometry(21, 260, 768, 130);
    panel.frame->setStyleSheet(kEditFrame);
    panel.frame->hide();
    panel.cancel = editButton(page, "Button_cancel", buttonFont);
    panel.ok = editButton(page, okName, buttonFont);
    panel.remove = editButton(page, "Button_delete", buttonFont);
    return panel;
}

void EditPanel::open(bool withDelete) const
{
    const int cancelX = withDelete ? 310 : 195;
    const int okX = withDelete ? 540 : 425;
    remove->setGeometry(80, kEditButtonY, kEditButtonW, kEditButtonH);
    cancel->setGeometry(cancelX, kEditButtonY, kEditButtonW, kEditButtonH);
    ok->setGeometry(okX, kEditButtonY, kEditButtonW, kEditButtonH);
    frame->show();
    frame->raise();
    cancel->show();
    ok->show();
    remove->setVisible(withDelete);
}

void EditPanel::close() const
{
    frame->hide();
    cancel->hide();
    ok->hide();
    remove->hide();
}

QPushButton* makeColumnButton(QFrame* container, const QString& name, const char* icon, int y)
{
    QPushButton* b = shell::makeFlatButton(container, name, 715, y, 50, 50);
    b->setIcon(QIcon(QString::fromLatin1(icon)));
    b->setIconSize(QSize(50, 50));
    return b;
}

}  // namespace video
