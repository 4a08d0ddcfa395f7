#include "ui/video/imagelayout.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QListView>
#include <QPushButton>

#include "core/para_commit.h"
#include "core/ram_layout.h"
#include "core/zelrampara.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_style.h"
#include "ui/shell/shell_text.h"
#include "ui/shell/shell_widgets.h"
#include "ui/video/inputchoose.h"
#include "ui/video/video_common.h"

ImageLayout* g_imagelayout = nullptr;

namespace {

constexpr LangText kTitle = {"画面布局", "Screen layout", "Расположение", "Bố cục màn hình", "畫麵佈局"};
constexpr LangText kP2P = {"点对点", "DBD", "Пиксель к пикселю", "Điểm tới điểm", "點對點"};
constexpr LangText kMirror = {"镜像", "mirror", "Отражение", "Ảnh phản chiếu", "鏡像"};
constexpr LangText kP2PEntries[4] = {
    {"点对点关闭", "OFF", "Откл", "Đóng", "點對點關閉"},
    {"点对点开启", "ON", "Вкл", "Mở", "點對點開啟"},
    {"HD3,HD4水平拼接", "HD3,HD4 Hor", "Гор HD3,HD4", "Nối ngang HD3,HD4", "HD3,HD4水平拼接"},
    {"HD3,HD4垂直拼接", "HD3,HD4 Ver", "Вер HD3,HD4", "Ghép dọc HD3,HD4", "HD3,HD4垂直拼接"},
};
constexpr LangText kStatePrefix = {"画面状态:", "Image state:", "Состояние:", "Trạng thái:", "畫麵狀態:"};
constexpr LangText kDefaultName = {"画面%1", "image%1", "Канал%1", "Hình ảnh%1", "畫麵%1"};
constexpr LangText kSourcePrefix = {"信源:", "Source:", "Источник:", "Nguồn tín hiệu:", "信源:"};
constexpr LangText kClosed = {"未开启", "Close", "Откл", "Đóng", "未開啟"};

constexpr const char* kBackupEntries[7] = {"无", "HDMI1", "HDMI2", "HDMI3", "HDMI4", "DVI", "EXT"};


constexpr const char* kMirrorOn[4] = {":/png/mirror1_on.png", ":/png/mirror2_on.png", ":/png/mirror3_on.png",
                                      ":/png/mirror4_on.png"};
constexpr const char* kMirrorOff[4] = {":/png/mirror1_off.png", ":/png/mirror2_off.png", ":/png/mirror3_off.png",
                                       ":/png/mirror4_off.png"};

// Point-to-point list entry to the flags bit and splice mode it stores.
constexpr uint16_t kP2PFlag = 0x100;
constexpr uint16_t kSpliceModes[4] = {0, 0, 8, 9};

constexpr unsigned kFieldOffsets[4] = {ramaddr::kWinX, ramaddr::kWinY, ramaddr::kWinWidth, ramaddr::kWinHeight};
constexpr const char* kFieldNames[4] = {"lineEdit_X", "lineEdit_Y", "lineEdit_W", "lineEdit_H"};
constexpr const char* kFieldLabelNames[4] = {"label_X", "label_Y", "label_W", "label_H"};
constexpr const char* kKeypadTitles[4] = {"X", "Y", "W", "H"};
enum Field { kX, kY, kW_, kH_ };

constexpr int kNameWidth = 60;   // the alias is cut to this width
constexpr int kMaxCoordinate = 32767;

QPushButton* makeButton(QWidget* parent, const QString& name, int x, int y, int w, int h)
{
    auto* b = new QPushButton(parent);
    b->setObjectName(name);
    b->setGeometry(x, y, w, h);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

int16_t fieldValue(const QLineEdit* field) { return video::toShort(field->text()); }

}  // namespace

ImageLayout::ImageLayout(QWidget* parent) : PageBase("ImageLayout", kFocus, shell::kSettingsFocus, parent)
{
    keepPointer(g_imagelayout);

    // The current window: name, state with its toggle, source with the source page's opener.
    QFrame* info = shell::makePanel(this, "frame_info", 20, 172, 370, 296);
    name_ = shell::makeLabel(info, "image_name", 16, 12, 340, 40, style::kText);
    state_ = shell::makeLabel(info, "image_state", 16, 64, 250, 40, style::kText);
    stateButton_ = shell::makeFlatButton(info, "button_state", 272, 68, 80, 32);
    stateButton_->setIconSize(QSize(70, 32));
    source_ = shell::makeLabel(info, "image_source", 16, 116, 270, 40, style::kText);
    sourceSelect_ = makeButton(info, "Button_source_select", 296, 114, 56, 44);
    sourceSelect_->setIcon(QIcon(":/png/page_change.png"));
    sourceSelect_->setIconSize(QSize(32, 32));
    sourceSelect_->setStyleSheet(style::kFlatButton);
    p2pLabel_ = shell::makeLabel(info, "label_P2P", 16, 176, 340, 32, style::kDimText);
    p2p_ = new QComboBox(info);
    p2p_->setObjectName("comboBox_P2P");
    p2p_->setGeometry(16, 212, 336, 44);
    p2p_->setFocusPolicy(Qt::NoFocus);
    p2p_->setStyleSheet(style::kCombo);

    // Position and size, mirror mode.
    QFrame* geometry = shell::makePanel(this, "frame_geometry", 410, 172, 370, 296);
    for (int i = 0; i < 4; ++i) {
        const int x = 12 + (i % 2) * 176;
        const int y = 14 + (i / 2) * 58;
        fieldLabels_[i] = shell::makeLabel(geometry, kFieldLabelNames[i], x, y, 64, 44, style::kDimText,
                                           Qt::AlignRight | Qt::AlignVCenter);
        fields_[i] = new My_lineEdit(geometry);
        fields_[i]->setObjectName(kFieldNames[i]);
        fields_[i]->setGeometry(x + 70, y, 92, 44);
        fields_[i]->setStyleSheet(style::kField);
        bindField(fields_[i], [i] { return QString::fromLatin1(kKeypadTitles[i]); });
    }
    fieldLabels_[kX]->setText("X");
    fieldLabels_[kY]->setText("Y");
    mirrorLabel_ = shell::makeLabel(geometry, "label_mirror", 16, 136, 340, 32, style::kDimText);
    for (int m = 0; m < 4; ++m) {
        mirror_[m] = makeButton(geometry, QStringLiteral("mirror%1").arg(m + 1), 16 + m * 86, 176, 74, 74);
        mirror_[m]->setIconSize(QSize(48, 48));
        mirror_[m]->setStyleSheet(
            "QPushButton{background-color:#10101C;border:1px solid #3A3F5C;border-radius:8px;}"
            "QPushButton:pressed{background-color:#4777FF;}");
    }
    connect(mirror_[0], &QPushButton::clicked, this, &ImageLayout::on_mirror1_clicked);
    connect(mirror_[1], &QPushButton::clicked, this, &ImageLayout::on_mirror2_clicked);
    connect(mirror_[2], &QPushButton::clicked, this, &ImageLayout::on_mirror3_clicked);
    connect(mirror_[3], &QPushButton::clicked, this, &ImageLayout::on_mirror4_clicked);

    // The hot-backup row and the OK/Cancel pair are kept but never offered.
    backupLabel_ = shell::makeLabel(this, "label_backup", 0, 0, 10, 10, style::kText);
    backup_ = new QComboBox(this);
    backup_->setObjectName("comboBox");
    backup_->setView(new QListView(backup_));
    for (const char* e : kBackupEntries)
        backup_->addItem(QString::fromUtf8(e));
    backupLabel_->hide();
    backup_->hide();
    ok_ = makeButton(this, "Button_ok", 0, 0, 10, 10);
    cancel_ = makeButton(this, "Button_cancel", 0, 0, 10, 10);
    cancel_->setStyleSheet("background-color: #4777FF;color: #FFFFFF");
    pairSelected_ = cancel_;
    ok_->hide();
    cancel_->hide();

    connect(stateButton_, &QPushButton::clicked, this, &ImageLayout::on_button_state_clicked);
    connect(sourceSelect_, &QPushButton::clicked, this, &ImageLayout::on_Button_source_select_clicked);
    connect(p2p_, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &ImageLayout::on_comboBox_P2P_currentIndexChanged);
    // Picking the entry already shown (over a splice mode the list does not offer) is a choice too.
    connect(p2p_, qOverload<int>(&QComboBox::activated), this, &ImageLayout::on_comboBox_P2P_currentIndexChanged);
    connect(backup_, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &ImageLayout::on_comboBox_currentIndexChanged);
    connect(ok_, &QPushButton::clicked, this, &ImageLayout::on_Button_ok_clicked);
    connect(cancel_, &QPushButton::clicked, this, &ImageLayout::on_Button_cancel_clicked);

    language_changed();
    image_init();
    image_para_update();
}

ImageLayout::~ImageLayout() = default;

unsigned ImageLayout::record(unsigned offset) const { return ramaddr::window(current_) + offset; }

void ImageLayout::image_init()
{
    shell::retire(strip_);
    strip_ = new QFrame(this);
    strip_->setObjectName("frame_strip");
    strip_->setGeometry(0, 65, 800, 95);
    highlight_ = new QFrame(strip_);
    highlight_->setObjectName("frame_highlight");
    highlight_->setGeometry(130 * current_ + 17, 0, 126, 96);
    highlight_->setStyleSheet(video::kWindowHighlight);
    for (int i = 0; i < kWindows; ++i) {
        cardText_[i] = video::makeWindowCard(strip_, i, 130 * i + 20);
        if (i == 0 || video::word(ramaddr::window(i) + ramaddr::kWinState) == 1)
            TextCreate(static_cast<char>(i), 0);
        else
            cardText_[i]->setText(langText(kClosed));
        auto* button = shell::makeFlatButton(strip_, QString::number(i), 130 * i + 20, 3, 120, 90);
        connect(button, &QPushButton::clicked, this, &ImageLayout::zel_image_button_clicked);
    }
    highlight_->raise();
    strip_->show();
}

void ImageLayout::TextCreate(char window, char)
{
    const int w = static_cast<unsigned char>(window);
    if (w >= kWindows || !cardText_[w])
        return;
    cardText_[w]->setText(video::inputName(video::windowSource(w).input));
}

void ImageLayout::show_state(bool on)
{
    state_->setText(langText(kStatePrefix) + langText(on ? video::kTextOn : video::kTextOff));
    stateButton_->setIcon(QIcon(on ? ":/png/button_on.png" : ":/png/button_off.png"));
    shownState_ = on ? 1 : 0;
}

void ImageLayout::image_para_update()
{
    const bool on = current_ == 0 || video::word(record(ramaddr::kWinState)) != 0;
    show_state(on);
    stateButton_->setVisible(current_ != 0);

    const QString fallback = langText(video::kTextNamePrefix) + langText(kDefaultName).arg(current_ + 1);
    const QString alias = video::aliasOr("win", current_, QString(), name_, kNameWidth);
    name_->setText(alias.isEmpty() ? fallback : langText(video::kTextNamePrefix) + alias);

    // A source outside the six inputs shows the prefix alone.
    source_->setText(langText(kSourcePrefix) + video::inputName(video::windowSource(current_).input));

    const int backup = video::image()[record(ramaddr::kWinBackup)];
    video::selectComboQuietly(backup_, backup < backup_->count() ? backup : -1);

    for (int i = 0; i < 4; ++i)
        fields_[i]->setText(QString::number(video::word(record(kFieldOffsets[i]))));
    mirror_select(video::word(record(ramaddr::kWinMirror)));

    const uint16_t flags = video::word(record(ramaddr::kWinFlags));
    const uint16_t splice = video::word(record(ramaddr::kWinDbdMode));
    if (!(flags & kP2PFlag))
        video::selectComboQuietly(p2p_, 0);
    else if (splice == 0 || splice == 8 || splice == 9)
        video::selectComboQuietly(p2p_, splice == 0 ? 1 : splice == 8 ? 2 : 3);
}

void ImageLayout::mirror_select(int mode)
{
    if (mode < 0 || mode > 3)
        return;
    for (int m = 0; m < 4; ++m)
        mirror_[m]->setIcon(QIcon(m == mode ? kMirrorOn[m] : kMirrorOff[m]));
}

void ImageLayout::syncUpdate()
{
    // The base ran the language check (and language_changed) before this refresh.
    bool rebuild = false;
    for (int w = 0; w < kWindows && !rebuild; ++w) {
        const unsigned rec = ramaddr::window(w);
        rebuild = video::differs(rec + ramaddr::kWinState, 2) || video::differs(rec + ramaddr::kWinSource, 2);
    }
    if (rebuild)
        image_init();
    image_para_update();
}

void ImageLayout::language_changed()
{
    titleLabel()->setText(langText(kTitle));
    p2pLabel_->setText(langText(kP2P));
    fieldLabels_[kW_]->setText(langText(shell::kTextWidth));
    fieldLabels_[kH_]->setText(langText(shell::kTextHeight));
    mirrorLabel_->setText(langText(kMirror));
    cancel_->setText(langText(shell::kTextCancel));
    ok_->setText(langText(shell::kTextOk));
    QStringList entries;
    for (const LangText& e : kP2PEntries)
        entries << langText(e);
    // Refilled without reporting a selection: the stored point-to-point mode is shown, not changed.
    video::setComboEntries(p2p_, entries, p2p_->currentIndex());
    if (strip_) {
        image_init();
        image_para_update();
    }
}

void ImageLayout::zel_image_button_clicked()
{
    const int w = senderIndex(kWindows);
    if (w < 0)
        return;
    current_ = static_cast<uint8_t>(w);
    image_para_update();
    highlight_->setGeometry(static_cast<QWidget*>(sender())->x() - 3, 0, 126, 96);
}

void ImageLayout::on_button_state_clicked()
{
    if (current_ == 0)
        return;   // window 1 is always on
    const bool on = shownState_ != 1;
    show_state(on);
    video::commitLowBytes({{record(ramaddr::kWinState), static_cast<uint16_t>(on ? 1 : 0)}});
    if (on)
        TextCreate(static_cast<char>(current_), 0);
    else
        cardText_[current_]->setText(langText(kClosed));
}

void ImageLayout::mirror_clicked(int mode)
{
    if (video::image()[record(ramaddr::kWinMirror)] == mode)
        return;
    mirror_select(mode);
    video::commitLowBytes({{record(ramaddr::kWinMirror), static_cast<uint16_t>(mode)}});
}

void ImageLayout::on_comboBox_P2P_currentIndexChanged(int index)
{
    if (index < 0 || index > 3)
        return;
    const uint16_t flags = video::word(record(ramaddr::kWinFlags));
    const uint16_t splice = video::word(record(ramaddr::kWinDbdMode));
    const uint16_t newFlags = index == 0 ? flags & ~kP2PFlag : flags | kP2PFlag;
    const uint16_t newSplice = index == 0 ? splice : kSpliceModes[index];
    if (newFlags == flags && newSplice == splice)
        return;
    video::commitWords({{record(ramaddr::kWinFlags), newFlags}, {record(ramaddr::kWinDbdMode), newSplice}});
}

void ImageLayout::on_comboBox_currentIndexChanged(int index)
{
    if (index < 0)
        return;
    // Kept with the image only: nothing acts on the hot-backup input, so no change is flagged.
    ParaCommit lock;
    video::image()[record(ramaddr::kWinBackup)] = static_cast<unsigned char>(index);
}

void ImageLayout::mark_pair(QPushButton* pressed)
{
    shell::markAction(pairSelected_, false);
    shell::markAction(pressed, true);
    pairSelected_ = pressed;
}

void ImageLayout::on_Button_ok_clicked()
{
    mark_pair(ok_);
    commit_geometry();
}

void ImageLayout::on_Button_cancel_clicked() { mark_pair(cancel_); }

void ImageLayout::commit_geometry()
{
    video::commitWords({{record(ramaddr::kWinX), static_cast<uint16_t>(fieldValue(fields_[kX]))},
                        {record(ramaddr::kWinY), static_cast<uint16_t>(fieldValue(fields_[kY]))},
                        {record(ramaddr::kWinWidth), static_cast<uint16_t>(fieldValue(fields_[kW_]))},
                        {record(ramaddr::kWinHeight), static_cast<uint16_t>(fieldValue(fields_[kH_]))}});
}

void ImageLayout::fieldConfirmed(My_lineEdit* field, const QString& text)
{
    int index = -1;
    for (int i = 0; i < 4; ++i)
        if (field == fields_[i])
            index = i;
    if (index < 0)
        return;
    bool number = false;
    int64_t value = text.toInt(&number);
    if (!number)
        value = 0;   // an empty entry counts as 0
    // The canvas holds no negative position or size, and the fields store 16-bit values.
    if (value < 0 || value > kMaxCoordinate)
        return;
    const bool horizontal = index == kX || index == kW_;
    const int partner = index == kX ? kW_ : index == kW_ ? kX : index == kY ? kH_ : kY;
    const int64_t other = static_cast<uint16_t>(fieldValue(fields_[partner]));
    const int64_t canvas = video::word(horizontal ? ramaddr::kLedWidth : ramaddr::kLedHeight);
    if (value + other > canvas)
        return;
    field->setText(text);
    commit_geometry();
}

void ImageLayout::on_Button_source_select_clicked() { shell::openPage(g_inputchoose, InputChoose::kFocus); }
