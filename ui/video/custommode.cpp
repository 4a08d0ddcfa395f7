#include "ui/video/custommode.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

#include <cstring>

#include "core/global.h"
#include "core/omenu.h"
#include "core/para_commit.h"
#include "core/ram_layout.h"
#include "core/zelrampara.h"
#include "ui/shell/shell_style.h"
#include "ui/shell/shell_text.h"
#include "ui/shell/shell_widgets.h"
#include "ui/shell/tip.h"
#include "ui/video/video_common.h"

CustomMode* g_custommode = nullptr;

namespace {

constexpr LangText kTitle = {"用户模式", "User mode", "Слот", "Chế độ người dùng", "用戶模式"};
constexpr LangText kUse = {"调用", "Invoke", "Вызвать", "Dùng", "調用"};
constexpr LangText kBlank = {"未保存用户模式数据", "User mode does not exist", "Данные не сохранены",
                             "Chế độ không được lưu", "未保存用戶模式數據"};
constexpr LangText kCardCaption = {"用户模式%1", "MODE %1", "Слот %1", "Chế độ %1", "用戶模式%1"};
constexpr LangText kNameCaption = {"名称:用户模式%1", "Name:Mode%1", "Название:Слот%1", "Tên:Chế độ%1",
                                   "名稱:用戶模式%1"};
constexpr LangText kLedLine = {"LED参数:%1x%2", "LED size:%1x%2", "Размер LED:%1x%2", "Kích thước LED:%1x%2",
                               "LED參數:%1x%2"};
constexpr LangText kPictureOn = {"亮度:%1 对比度:%2 音量:开启", "Bri:%1 CTRST:%2 Volume:ON",
                                 "Яркость:%1 Контраст:%2 Громкость:Вкл", "Độ sáng:%1 Tương phản:%2 Âm:Mở",
                                 "亮度:%1 對比度:%2 音量:開啟"};
constexpr LangText kPictureOff = {"亮度:%1 对比度:%2 音量:关闭", "Bri:%1 CTRST:%2 Volume:OFF",
                                  "Яркость:%1 Контраст:%2 Громкость:Откл", "Độ sáng:%1 Tương phản:%2 Âm:đóng",
                                  "亮度:%1 對比度:%2 音量:關閉"};

constexpr const char* kFrameNormal = "background-color: #212435;border:1px solid #FFFFFF;border-radius:5px;";
constexpr const char* kFrameCurrent = "background-color: #212435;border:1px solid #00D65B;border-radius:5px;";
constexpr const char* kFrameSelected = "background-color: #212435;border:2px solid #00D65B;border-radius:5px;";
constexpr const char* kActionNormal =
    "background-color: #212435;color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);";
constexpr const char* kScrollBar =
    "QScrollBar:vertical{width:32px;background:#10101C;padding-top:0px;padding-bottom:0px;}"
    "QScrollBar::handle:vertical{width:32px;background-color:#D5D5D5;border-radius:14px;}"
    "QScrollBar::add-page:vertical {background:#10101C;}QScrollBar::sub-page:vertical {background:#10101C;}";
constexpr const char* kLineStyle = "background-color: #10101C;color: #FFFFFF;";
constexpr const char* kHeaderStyle = "color:#FFFFFF;background:transparent;";
constexpr const char* kTileColours[6] = {"#D5E5FF", "#D4FC79", "#FC9D79", "#7E9AC9", "#32CC4C", "#4777FF"};

// The OSD summary knows Chinese (simplified, traditional) and English: index 0, 1, 2.
constexpr const char* kOsdFontSize[3] = {"字体大小:", "字體大小:", "font size:"};
constexpr const char* kOsdSpace[3] = {"字-行间距 [h:", "字-行間距 [h:", "space [h:"};
constexpr const char* kOsdChar[3] = {"字幕坐标[x:", "字幕坐標[x:", "char[x:"};
constexpr const char* kOsdSpeed[3] = {"速度:", "速度:", "speed:"};
constexpr const char* kOsdEffects[5][3] = {
    {"特技:静止", "特技:靜止", "effect:static"},     {"特技:上移", "特技:上移", "effect:move up"},
    {"特技:下移", "特技:下移", "effect:move down"}, {"特技:左移", "特技:左移", "effect:move left"},
    {"特技:右移", "特技:右移", "effect:move right"},
};
constexpr int kPreviewLines = 3;

int osdLanguage()
{
    const int lang = shownLanguage();
    return lang == kLangChinese ? 0 : lang == kLangTraditional ? 1 : 2;
}

constexpr int kCardPitch = 90;
constexpr int kCardNameWidth = 100;
constexpr int kHeaderNameWidth = 171;
constexpr int kAudioWindows = 6;
constexpr int kBadgePadding = 3;   // the audio window is one of the six windows

ZelRamPara* model() { return ZelRamPara::p_zelrampara_config; }

// The selected slot: g_mode_select is shared with the home page and the links, so it is bounded
// wherever it indexes.
int selected()
{
    const int k = g_mode_select.load();
    return k >= 0 && k < CustomMode::kSlots ? k : 0;
}

bool saved(int slot)
{
    ZelRamPara* m = model();
    return m && m->ram_user_mode[slot][0] == 0xAA && m->ram_user_mode[slot][1] == 0xAA;
}

const unsigned char* content(int slot)
{
    ZelRamPara* m = model();
    return m ? m->ram_user_mode[slot] + ramaddr::kSlotMarkerLen : nullptr;
}

// A field of image address `addr` in a slot's content.
uint16_t slotWord(const unsigned char* c, unsigned addr) { return ram_get_u16(c, addr - ramaddr::kModeStart); }

int currentMode() { return model() ? static_cast<int>(model()->ZelGetCurrentModeIndex()) : 0; }

}  // namespace

CustomMode::CustomMode(QWidget* parent) : PageBase("CustomMode", kFocus, shell::kHomeFocus, parent)
{
    keepPointer(g_custommode);
    pageFont_ = font();

    frame_ = new QFrame(this);
    frame_->setObjectName("frame");
    frame_->setGeometry(196, 68, 590, 410);
    frame_->setStyleSheet("#frame{border:1px solid rgb(133, 129, 153);}");
    // The picture of a mode and the rule under the header.
    shell::makeLabel(frame_, "label_picture", 10, 10, 150, 100, "background-color: rgb(212, 252, 121);");
    shell::makeLabel(frame_, "line_header", 0, 118, 590, 1, "border:1px solid rgb(133, 129, 153);");
    id_ = shell::makeLabel(frame_, "label_ID", 170, 10, 60, 26, kHeaderStyle);
    name_ = shell::makeLabel(frame_, "label_name", 170, 36, kHeaderNameWidth, 26, kHeaderStyle);
    led_ = shell::makeLabel(frame_, "label_LED", 170, 62, 400, 26, kHeaderStyle);
    brightness_ = shell::makeLabel(frame_, "label_brightness", 170, 88, 400, 26, kHeaderStyle);
    using_ = shell::makeLabel(frame_, "label_using", 225, 10, 88, 28,
                              "background-color: rgb(0, 214, 91);\ncolor: rgb(255, 255, 255);\n"
                              "border:0px groove gray;\nborder-radius:14px;");
    QFont badgeFont = using_->font();
    badgeFont.setPointSize(12);
    badgeFont.setBold(true);
    using_->setFont(badgeFont);
    using_->setAlignment(Qt::AlignCenter);
    blank_ = shell::makeLabel(frame_, "label_blank", 30, 150, 400, 30, kHeaderStyle);
    QFont blankFont = blank_->font();
    blankFont.setPointSize(14);
    blank_->setFont(blankFont);
    blank_->hide();

    delete_ = new QPushButton(frame_);
    delete_->setObjectName("Button_delete");
    delete_->setGeometry(310, 370, 120, 30);
    use_ = new QPushButton(frame_);
    use_->setObjectName("Button_use");
    use_->setGeometry(450, 370, 120, 30);
    for (QPushButton* b : {delete_, use_}) {
        b->setFocusPolicy(Qt::NoFocus);
        b->setStyleSheet(kActionNormal);
    }
    connect(delete_, &QPushButton::clicked, this, &CustomMode::on_Button_delete_clicked);
    connect(use_, &QPushButton::clicked, this, &CustomMode::on_Button_use_clicked);

    const int mode = currentMode();
    g_mode_select = mode >= 1 && mode <= kSlots ? mode - 1 : 0;
    init();
    lcd_para_init();
    image_para_init();
    id_->setText(QStringLiteral("ID:%1").arg(selected() + 1));
    mark_action(use_);
    language_changed();
}

CustomMode::~CustomMode() = default;

void CustomMode::mark_action(QPushButton* button)
{
    if (buttonFocus_)
        buttonFocus_->setStyleSheet(kActionNormal);
    buttonFocus_ = button;
    buttonFocus_->setStyleSheet(style::kActionSelected);
}

// ---- the list ---------------------------------------------------------------------------------------

void CustomMode::init()
{
    shell::retire(scroll_);
    badge_ = nullptr;
    for (QFrame*& f : frames_)
        f = nullptr;
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName("scrollArea");
    scroll_->setGeometry(2, 66, 190, 414);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setStyleSheet("QScrollArea{background:transparent;}");
    scroll_->verticalScrollBar()->setStyleSheet(kScrollBar);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setWidgetResizable(true);

    auto* list = new QWidget();
    list->setObjectName("widget_list");
    list->setGeometry(0, 0, 157, 16 * kCardPitch);
    list->setMinimumSize(100, 16 * kCardPitch);
    list->setStyleSheet("#widget_list{background-color: rgb(16, 16, 28);}");
    badge_ = new QLabel(list);
    badge_->setObjectName("label_badge");
    pageFont_.setPointSize(10);
    QFont nameFont = font();
    nameFont.setPixelSize(20);

    const int current = currentMode();
    for (int i = 0; i < kSlots; ++i) {
        const int top = 2 + kCardPitch * i;
        frames_[i] = new QFrame(list);
        frames_[i]->setObjectName(QStringLiteral("frame_%1").arg(i));
        frames_[i]->setGeometry(2, top, 150, 80);
        frames_[i]->setStyleSheet(current == i + 1 ? kFrameCurrent : kFrameNormal);
        QLabel* number = shell::makeLabel(list, QStringLiteral("label_number_%1").arg(i), 3, top + 1, 24, 24,
                                          "background-color: #4777FF; color: #FFFFFF;border-radius:5px;");
        number->setAlignment(Qt::AlignCenter);
        number->setText(QString::number(i + 1));
        QLabel* name = shell::makeLabel(list, QStringLiteral("label_mode_%1").arg(i), 27, top + 29, kCardNameWidth,
                                        28, "background-color: #212435;color: #FFFFFF");
        name->setAlignment(Qt::AlignCenter);
        name->setFont(nameFont);
        name->setText(video::aliasOr("usermode", i, langText(kCardCaption).arg(i + 1), name, kCardNameWidth));
        QPushButton* b = shell::makeFlatButton(list, QString::number(i), 3, top + 1, 148, 78);
        connect(b, &QPushButton::clicked, this, &CustomMode::zel_button_mode_clicked);
    }
    if (current >= 1 && current <= kSlots) {
        badge_->setText(langText(video::kTextInUse));
        badge_->setStyleSheet(video::kInUseBadge);
        badge_->setAlignment(Qt::AlignCenter);
        badge_->setGeometry(96, 2 + kCardPitch * (current - 1), 56, 30);
        shell::fitToText(badge_, kBadgePadding, true);   // longer texts grow to the left, over the card
        badge_->raise();
    } else {
        badge_->hide();
    }
    scroll_->setWidget(list);
    scroll_->show();
}

void CustomMode::zel_button_mode_clicked()
{
    const int k = senderIndex(kSlots);
    if (k < 0)
        return;
    if (frames_[selected()])
        frames_[selected()]->setStyleSheet(kFrameNormal);
    g_mode_select = k;
    id_->setText(QStringLiteral("ID:%1").arg(k + 1));
    frames_[k]->setStyleSheet(kFrameSelected);
    lcd_para_init();
    image_para_init();
}

// ---- use and delete ---------------------------------------------------------------------------------

void CustomMode::on_Button_use_clicked()
{
    mark_action(use_);
    const int slot = selected();
    ZelRamPara* m = model();
    if (!m || !saved(slot))
        return;
    // Copied whole at the commit point: the engine never sees half a mode.
    ParaCommit commit;
    if (m->recall_user_mode(slot) != ZelRamPara::Recall::Loaded) {
        if (g_tip)
            g_tip->tip_create(TIP::kModeDamaged);
        return;
    }
    commit.set(1);
}

void CustomMode::on_Button_delete_clicked()
{
    mark_action(delete_);
    const int slot = selected();
    if (!model() || !saved(slot))
        return;
    model()->mode_file_deal(slot, 1);
    lcd_para_init();
    image_para_init();
}

// ---- refresh and texts ------------------------------------------------------------------------------

void CustomMode::syncUpdate()
{
    // The base ran the language check before this refresh.
    redraw_if_changed();
    // The dispatcher serves a pending save request and syncs the mode files after this refresh,
    // and then makes the image and its shadow agree: look again once it is done.
    QTimer::singleShot(0, this, [this] { redraw_if_changed(); });
}

QByteArray CustomMode::shown_state() const
{
    QByteArray state;
    state.append(char(currentMode()));
    if (ZelRamPara* m = model()) {
        for (int k = 0; k < kSlots; ++k)
            state.append(char(m->ZelUserModeSaved(k)));
        state.append(reinterpret_cast<const char*>(m->ram_user_mode[selected()]), ramaddr::kSlotMarkerLen + ramaddr::kModeLen);
    }
    return state;
}

void CustomMode::redraw_if_changed()
{
    if (!video::differs(ramaddr::kCurrentMode, 2) && shown_state() == shown_)
        return;
    init();
    lcd_para_init();
    image_para_init();
}

void CustomMode::language_changed()
{
    titleLabel()->setText(langText(kTitle));
    delete_->setText(langText(video::kTextDelete));
    use_->setText(langText(kUse));
    using_->setText(langText(video::kTextInUse));
    shell::fitToText(using_, kBadgePadding, false);   // longer texts grow to the right, clear of the ID
    blank_->setText(langText(kBlank));
}

// ---- the detail view --------------------------------------------------------------------------------

void CustomMode::color_fill(QLabel* label, char n)
{
    const int k = static_cast<unsigned char>(n);
    label->setStyleSheet(QStringLiteral("background-color: %1;").arg(k < 6 ? kTileColours[k] : "#CCCCCC"));
}

void CustomMode::lcd_para_init()
{
    const int slot = selected();
    const QString alias = video::aliasOr("usermode", slot, QString(), name_, kHeaderNameWidth);
    name_->setText(alias.isEmpty() ? langText(kNameCaption).arg(slot + 1) : langText(video::kTextNamePrefix) + alias);

    const unsigned char* c = content(slot);
    if (c) {
        led_->setText(langText(kLedLine)
                          .arg(static_cast<int16_t>(slotWord(c, ramaddr::kLedWidth)))
                          .arg(static_cast<int16_t>(slotWord(c, ramaddr::kLedHeight))));
        // The sound bit of the audio window; a window number beyond the six windows is off.
        const unsigned audio = c[ramaddr::kAudioWindow - ramaddr::kModeStart];
        const bool soundOn = audio < kAudioWindows &&
                             (c[ramaddr::window(audio) + ramaddr::kWinSound - ramaddr::kModeStart] & 0x80);
        brightness_->setText(langText(soundOn ? kPictureOn : kPictureOff)
                                 .arg(static_cast<int16_t>(slotWord(c, ramaddr::kBrightness)))
                                 .arg(static_cast<int16_t>(slotWord(c, ramaddr::kContrast))));
    }
    using_->setVisible(currentMode() == slot + 1);
}

void CustomMode::image_para_init()
{
    shown_ = shown_state();
    shell::retire(panel_);
    const int slot = selected();
    const bool isSaved = model() && model()->ZelUserModeSaved(slot);
    led_->setVisible(isSaved);
    brightness_->setVisible(isSaved);
    blank_->setVisible(!isSaved);
    if (!isSaved)
        return;

    const unsigned char* c = content(slot);
    panel_ = new QWidget(frame_);
    panel_->setObjectName("widget_panel");
    panel_->setGeometry(2, 120, 587, 244);
    panel_->setMinimumSize(100, 244);
    for (int w = 0; w < video::kWindows; ++w) {
        const int col = w < 3 ? 0 : 1;
        const int row = w % 3;
        QLabel* tile =
            shell::makeLabel(panel_, QStringLiteral("label_tile_%1").arg(w), 10 + 290 * col, 6 + 48 * row, 45, 45, "");
        tile->setText(QString::number(w + 1));
        tile->setAlignment(Qt::AlignCenter);
        tile->setFont(pageFont_);
        color_fill(tile, static_cast<char>(w));

        short crop = 0;
        char index = 0;
        const int input = model()->ZelGetImageSource(const_cast<unsigned char*>(c), static_cast<unsigned char>(w),
                                                     &crop, &index, 1);
        const unsigned entry = static_cast<unsigned char>(index);
        const bool cropNamed = crop && entry < ramaddr::kCropEntries;
        QString source = crop && !cropNamed ? QString() : video::inputName(input);
        if (source.isEmpty())
            source = QString::number(w + 1);   // no input of that number, or a crop outside the table
        if (cropNamed)
            source += QStringLiteral("_Crop%1").arg(entry + 1);
        const bool on = static_cast<int16_t>(slotWord(c, ramaddr::window(w) + ramaddr::kWinState)) != 0;
        QLabel* line = shell::makeLabel(panel_, QStringLiteral("label_window_%1").arg(w), 65 + 290 * col,
                                        6 + 45 * row, 220, 20, kLineStyle);
        line->setFont(pageFont_);
        line->setText(source + " " + langText(on ? video::kTextOn : video::kTextOff));

        const unsigned rec = ramaddr::window(w);
        QLabel* pos = shell::makeLabel(panel_, QStringLiteral("label_position_%1").arg(w), 65 + 290 * col,
                                       30 + 45 * row, col == 0 ? 200 : 587 - (65 + 290), 20, kLineStyle);
        pos->setFont(pageFont_);
        pos->setText(QStringLiteral("[%1,%2]%3x%4")
                         .arg(slotWord(c, rec + ramaddr::kWinX))
                         .arg(slotWord(c, rec + ramaddr::kWinY))
                         .arg(slotWord(c, rec + ramaddr::kWinWidth))
                         .arg(slotWord(c, rec + ramaddr::kWinHeight)));
    }
    if (slotWord(c, ramaddr::kOsdOn) != 0)
        osd_block(slot);
    panel_->show();
}

QString CustomMode::osd_colour(const QString& text, const QString& fallback)
{
    QString hex = text.trimmed();
    if (hex.startsWith("0x", Qt::CaseInsensitive))
        hex = hex.mid(2);
    else if (hex.startsWith('#'))
        hex = hex.mid(1);
    static const QRegularExpression kSixHex("^[0-9A-Fa-f]{6}$");
    return kSixHex.match(hex).hasMatch() ? "#" + hex : fallback;
}

void CustomMode::osd_block(int slot)
{
    // A missing or broken file leaves the list as it starts: zeros and empty texts.
    OSD_LIST list;
    get_json_omenu_para(mode_osd_path(slot).toLatin1().constData(), &list);
    const OMENU_PARA& e = list.item[0];

    const int lang = osdLanguage();
    QFont small = font();
    small.setPixelSize(12);
    QLabel* summary = shell::makeLabel(panel_, "label_osd_summary", 10, 207, 570, 40, kLineStyle);
    summary->setFont(small);
    summary->setFrameShape(QFrame::NoFrame);
    const int effect = e.effect >= 2 && e.effect <= 5 ? e.effect - 1 : 0;
    summary->setText(QStringLiteral("osd [x:%1,y:%2,w:%3,h:%4] %5%6*%7\n%8%9,v:%10] %11%12,y:%13] %14%15,%16")
                         .arg(unsigned(e.x)).arg(unsigned(e.y)).arg(unsigned(e.w)).arg(unsigned(e.h))
                         .arg(QString::fromUtf8(kOsdFontSize[lang])).arg(unsigned(e.fontw)).arg(unsigned(e.fonth))
                         .arg(QString::fromUtf8(kOsdSpace[lang])).arg(unsigned(e.wordspace))
                         .arg(unsigned(e.verticalspace))
                         .arg(QString::fromUtf8(kOsdChar[lang])).arg(unsigned(e.startx)).arg(unsigned(e.starty))
                         .arg(QString::fromUtf8(kOsdSpeed[lang])).arg(unsigned(e.speed))
                         .arg(QString::fromUtf8(kOsdEffects[effect][lang])));

    QLabel* preview = shell::makeLabel(panel_, "label_osd_preview", 10, 150, 570, 56, "");
    preview->setFont(small);
    preview->setFrameShape(QFrame::NoFrame);
    // Only checked colours reach the style sheet.
    preview->setStyleSheet(QStringLiteral("background-color:%1;color:%2;")
                               .arg(osd_colour(QString::fromStdString(e.back_color), "#000000"),
                                    osd_colour(QString::fromStdString(e.font_color), "#FFFFFF")));
    QStringList lines = QString::fromStdString(e.texts).split('\n');
    if (lines.size() > kPreviewLines)
        lines = lines.mid(0, kPreviewLines);
    preview->setText(lines.join('\n'));
}
