#include "ui/system/outputset.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QStackedWidget>

#include <algorithm>
#include <array>

#include "core/global.h"
#include "core/para_commit.h"
#include "core/ram_layout.h"
#include "core/zelrampara.h"
#include "ledout/fpga_manage.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/shell_style.h"
#include "ui/system/led_size.h"
#include "ui/system/system_widgets.h"

OutputSet* g_outputset = nullptr;

using namespace ramaddr;

namespace output_split {

namespace {
int roundUp(int value, int step) { return (value + step - 1) / step * step; }
}  // namespace

Split horizontal(int width)
{
    // An odd width gives output 1 two more pixels, not one.
    const int half = width / 2 + (width % 2 ? 2 : 0);
    if (width <= kMaxOutput) {
        const int out1 = std::min(roundUp(half, kNarrowStep), std::max(width, 0));
        return {out1, std::max(0, width - out1)};
    }
    const int out1 = roundUp(half, kWideStep);
    return {out1, std::max(0, roundUp(width, kWideStep) - out1)};
}

Split vertical(int height)
{
    const int out1 = (height + 1) / 2;
    return {out1, std::max(0, height - out1)};
}

int wideRemainder(int width, int out1)
{
    const int rest = width % kWideStep ? width + kWideStep - out1 : width - out1;
    return std::max(0, rest);
}

}  // namespace output_split

namespace {

using namespace output_split;

constexpr LangText kTitle = {"输出设置", "Output Settings", "Выход", "Thông số đầu ra", "輸出設置"};
constexpr LangText kLedSet = {"LED设置", "LED Setting", "Настройка LED", "Cài đặt LED", "LED設置"};
constexpr LangText kLanSet = {"网口输出", "Port output", "Настройка LAN", "Cài đặt\ncổng MẠNG", "網口輸出"};
constexpr LangText kStep1 = {"1.设置LED屏宽高", "1.Set LED W&H", "1.Разрешение LED", "1.Cài đặt thông số led",
                             "1.設置LED屏寬高"};
constexpr LangText kStep2 = {"2.选择拼接方式", "2.Splice", "2.Сплайсер", "2.Ghép nối", "2.選擇拼接方式"};
constexpr LangText kTip = {"可设LED屏最大点数:%1(宽),%2(高)", "LED max:%1(w),%2(h)", "Ширина:%1(px)Высота:%2(px)",
                           "Điểm ảnh lớn nhất:%1(ngang),%2(dọc)", "可設LED屏最大點數:%1(寬),%2(高)"};
constexpr int kTipMax = 16376;
constexpr LangText kCombo[3] = {
    {"水平拼接", "horizontal", "Горизонтально", "Chiều ngang", "水平拼接"},
    {"垂直拼接", "vertical", "Вертикально", "Chiều cao", "垂直拼接"},
    {"复制模式", "copy", "Дублирование", "Sao chép", "複製模式"},
};

// The keypad's titles of the output 1 fields, the same in every language.
constexpr const char* kWidthTitle = "宽";
constexpr const char* kHeightTitle = "高";

constexpr const char* kTabSelected = "background-color: #4777FF;color: #FFFFFF";
constexpr const char* kTabOther = "color: #FFFFFF";

// Combo index of each splice mode, and its picture and place.
struct ModeView {
    uint8_t mode;
    const char* picture;
    int x, y, w, h;
};
constexpr ModeView kModes[3] = {
    {OutputSet::kHorizontal, ":/png/out_horizontal.png", 348, 155, 180, 40},
    {OutputSet::kVertical, ":/png/out_vertical.png", 430, 130, 100, 80},
    {OutputSet::kCopy, ":/png/out_copy.png", 388, 155, 100, 40},
};

int indexOfMode(uint8_t mode)
{
    for (int i = 0; i < 3; ++i)
        if (kModes[i].mode == mode)
            return i;
    return 2;
}

using sys::fieldNumber;
// The screen size as the image's signed 16-bit fields hold it.
int screenNumber(const QLineEdit* field) { return static_cast<int16_t>(fieldNumber(field)); }
// An output field as the image's unsigned 16-bit fields hold it, never below 0.
uint16_t outputNumber(int value) { return static_cast<uint16_t>(std::clamp(value, 0, 0xFFFF)); }

// Image 0x584-0x58E: output 1 width and height, output 2 start x and y, width and height.
constexpr unsigned kOutput1Size = kOutputArea + 4;

std::array<uint16_t, 6> outputWords(uint8_t mode, int W, int H, int o1w, int o1h, int o2h)
{
    const uint16_t w1 = outputNumber(o1w);
    const uint16_t h1 = outputNumber(o1h);
    if (mode == OutputSet::kHorizontal)
        return {w1, h1, w1, 0, outputNumber(W - o1w), h1};
    if (mode == OutputSet::kVertical)
        return {w1, h1, 0, h1, w1, outputNumber(o2h)};
    return {outputNumber(W), outputNumber(H), 0, 0, outputNumber(W), outputNumber(H)};
}

struct Port {
    int fpga;
    unsigned char local;
};
Port portOf(unsigned p)
{
    if (p >= static_cast<unsigned>(OutputSet::kPorts))
        return {0, 0};
    return {static_cast<int>(p / 16), static_cast<unsigned char>(p % 16)};
}

}  // namespace

OutputSet::OutputSet(QWidget* parent) : shell::PageBase("OutputSet", kFocus, shell::kSettingsFocus, parent)
{
    keepPointer(g_outputset);

    // The tab column, below the header.
    QWidget* tabs = sys::makeArea(this, "frame_tabs", 0, 72, 180, 408);
    ledset_ = sys::makeButton(tabs, "Button_ledset", 20, 14, 150, 60);
    lanset_ = sys::makeButton(tabs, "Button_lanset", 20, 80, 150, 60);
    connect(ledset_, &QPushButton::clicked, this, &OutputSet::on_Button_ledset_clicked);
    connect(lanset_, &QPushButton::clicked, this, &OutputSet::on_Button_lanset_clicked);
    for (QPushButton* b : {ledset_, lanset_})
        b->setStyleSheet(kTabOther);

    stack_ = new QStackedWidget(this);
    stack_->setObjectName("stackedWidget");
    stack_->setStyleSheet(sys::kPageSheet);
    stack_->setGeometry(185, 80, 610, 395);
    auto* ledPage = new QWidget(stack_);
    ledPage->setObjectName("page");
    portPage_ = new QWidget(stack_);
    portPage_->setObjectName("page_2");
    stack_->addWidget(ledPage);
    stack_->addWidget(portPage_);
    build_led_tab(ledPage);
    build_port_tab(portPage_);

    wlan_init();
    para_init();
    wlan_para_get(0);
    sys::moveSelection(tabFocus_, ledset_, kTabSelected, kTabOther);
    sys::moveSelection(applyFocus1_, cancel1_, style::kActionSelected, style::kActionOther);
    sys::moveSelection(applyFocus2_, cancel2_, style::kActionSelected, style::kActionOther);
    sys::moveSelection(groupFocus_, groups_[0], style::kActionSelected, style::kActionOther);
    stack_->setCurrentIndex(0);
    language_changed();
    apply2_->hide();
    cancel2_->hide();
}

OutputSet::~OutputSet() = default;

void OutputSet::build_led_tab(QWidget* page)
{
    s1_ = sys::makeText(page, "label_s1", 10, 4, 420, 36);
    widthCaption_ = sys::makeText(page, "label_width", 10, 46, 90, 44, Qt::AlignRight | Qt::AlignVCenter);
    width_ = sys::makeField(page, "lineEdit_width", 108, 46, 130, 44);
    heightCaption_ = sys::makeText(page, "label_height", 250, 46, 90, 44, Qt::AlignRight | Qt::AlignVCenter);
    height_ = sys::makeField(page, "lineEdit_height", 348, 46, 130, 44);
    auto* warning = sys::makeText(page, "label_warning", 14, 101, 22, 22);
    sys::setPicture(warning, ":/png/warning.png");
    tip_ = sys::makeText(page, "label_tip", 44, 96, 540, 32);
    tip_->setStyleSheet("color:#FFB020;");
    s2_ = sys::makeText(page, "label_s2", 10, 130, 300, 36);

    combo_ = new QComboBox(page);
    combo_->setObjectName("comboBox");
    combo_->setGeometry(10, 168, 230, 44);
    combo_->setFocusPolicy(Qt::NoFocus);
    // Filled here as well: para_init runs before the texts are set.
    for (const LangText& item : kCombo)
        combo_->addItem(langText(item));
    combo_->setView(new QListView);
    connect(combo_, QOverload<int>::of(&QComboBox::activated), this, &OutputSet::on_comboBox_activated);
    outLabel_ = sys::makeText(page, "out_label", 348, 155, 180, 40);

    const char* frames[2] = {"frame_OUT1", "frame_OUT2"};
    const char* names[4][2] = {{"label_out1_width", "lineEdit_out1_width"},
                               {"label_out1_height", "lineEdit_out1_height"},
                               {"label_out2_width", "lineEdit_out2_width"},
                               {"label_out2_height", "lineEdit_out2_height"}};
    My_lineEdit* fields[4];
    for (int f = 0; f < 2; ++f) {
        auto* frame = new QFrame(page);
        frame->setObjectName(frames[f]);
        frame->setGeometry(10 + 300 * f, 222, 288, 104);
        frame->setStyleSheet(QStringLiteral("QFrame#%1{background-color:#212435;border-radius:8px;}").arg(frames[f]));
        sys::makeText(frame, QStringLiteral("label_out%1").arg(f + 1), 12, 0, 52, 104)
            ->setText(QStringLiteral("OUT%1").arg(f + 1));
        for (int row = 0; row < 2; ++row) {
            const int k = 2 * f + row;
            outCaptions_[k] = sys::makeText(frame, names[k][0], 62, 8 + 48 * row, 80, 40,
                                            Qt::AlignRight | Qt::AlignVCenter);
            fields[k] = sys::makeField(frame, names[k][1], 148, 8 + 48 * row, 128, 40);
        }
    }
    out1Width_ = fields[0];
    out1Height_ = fields[1];
    out2Width_ = fields[2];
    out2Height_ = fields[3];

    cancel1_ = sys::makeButton(page, "Button_cancel1", 110, 336, 170, 50);
    apply1_ = sys::makeButton(page, "Button_apply1", 330, 336, 170, 50);
    connect(cancel1_, &QPushButton::clicked, this, &OutputSet::on_Button_cancel1_clicked);
    connect(apply1_, &QPushButton::clicked, this, &OutputSet::on_Button_apply1_clicked);
    cancel1_->setStyleSheet(style::kActionOther);
    apply1_->setStyleSheet(style::kActionOther);

    bindField(out1Width_, [] { return QString::fromUtf8(kWidthTitle); });
    bindField(out1Height_, [] { return QString::fromUtf8(kHeightTitle); });
    for (QWidget* w : {static_cast<QWidget*>(out2Width_), static_cast<QWidget*>(out2Height_),
                       static_cast<QWidget*>(width_), static_cast<QWidget*>(height_)})
        w->setEnabled(false);
    for (QLabel* caption : outCaptions_)
        caption->setEnabled(false);
}

void OutputSet::build_port_tab(QWidget* page)
{
    const char* names[4] = {"Button_wlan1", "Button_wlan2", "Button_wlan3", "Button_wlan4"};
    void (OutputSet::*handlers[4])() = {&OutputSet::on_Button_wlan1_clicked, &OutputSet::on_Button_wlan2_clicked,
                                     &OutputSet::on_Button_wlan3_clicked, &OutputSet::on_Button_wlan4_clicked};
    for (int g = 0; g < 4; ++g) {
        groups_[g] = sys::makeButton(page, names[g], 10 + 150 * g, 10, 140, 52);
        groups_[g]->setStyleSheet(style::kActionOther);
        connect(groups_[g], &QPushButton::clicked, this, handlers[g]);
    }
    auto* line = new QFrame(page);
    line->setObjectName("line");
    line->setGeometry(0, 250, 610, 1);
    line->setStyleSheet("background-color: rgb(133, 129, 153);");

    const char* captions[4] = {"label_X", "label_Y", "label_W", "label_H"};
    const char* fields[4] = {"lineEdit_X", "lineEdit_Y", "lineEdit_W", "lineEdit_H"};
    for (int k = 0; k < 4; ++k) {
        // Room for the longest caption ("Ширина") beside a five-digit value.
        portCaptions_[k] = sys::makeText(page, captions[k], 150 * k, 272, 74, 44, Qt::AlignRight | Qt::AlignVCenter);
        portFields_[k] = sys::makeField(page, fields[k], 78 + 150 * k, 272, 68, 44);
        portFields_[k]->setEnabled(false);
    }
    portCaptions_[0]->setText("X");
    portCaptions_[1]->setText("Y");
    auto* line2 = new QFrame(page);
    line2->setObjectName("line_2");
    line2->setGeometry(0, 330, 610, 1);
    line2->setStyleSheet("background-color: rgb(133, 129, 153);");

    cancel2_ = sys::makeButton(page, "Button_cancel2", 110, 340, 170, 50);
    apply2_ = sys::makeButton(page, "Button_apply2", 330, 340, 170, 50);
    connect(cancel2_, &QPushButton::clicked, this, &OutputSet::on_Button_cancel2_clicked);
    connect(apply2_, &QPushButton::clicked, this, &OutputSet::on_Button_apply2_clicked);
}

void OutputSet::syncUpdate() { refreshNow(0); }

void OutputSet::pageRefresh(int) { para_init(); }

void OutputSet::language_changed()
{
    titleLabel()->setText(langText(kTitle));
    ledset_->setText(langText(kLedSet));
    lanset_->setText(langText(kLanSet));
    s1_->setText(langText(kStep1));
    s2_->setText(langText(kStep2));
    for (QLabel* l : {widthCaption_, outCaptions_[0], outCaptions_[2], portCaptions_[2]})
        l->setText(langText(shell::kTextWidth));
    for (QLabel* l : {heightCaption_, outCaptions_[1], outCaptions_[3], portCaptions_[3]})
        l->setText(langText(shell::kTextHeight));
    tip_->setText(langText(kTip).arg(kTipMax).arg(kTipMax));
    cancel1_->setText(langText(sys::kTextCancel));
    apply1_->setText(langText(sys::kTextApply));
    cancel2_->setText(langText(sys::kTextCancel));
    apply2_->setText(langText(sys::kTextApply));
    for (int g = 0; g < 4; ++g)
        groups_[g]->setText(sys::portGroupText(g));
    combox_language_change();
    wlan_init();
}

void OutputSet::combox_language_change()
{
    const int index = combo_->currentIndex();
    combo_->clear();
    for (const LangText& item : kCombo)
        combo_->addItem(langText(item));
    combo_->setCurrentIndex(index);
}

void OutputSet::para_init()
{
    const ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    if (!model)
        return;
    const unsigned char* image = model->ram_para;
    width_->setText(QString::number(static_cast<int16_t>(ram_get_u16(image, kLedWidth))));
    height_->setText(QString::number(static_cast<int16_t>(ram_get_u16(image, kLedHeight))));
    const uint16_t stored = ram_get_u16(image, kSpliceMode);
    mode_ = stored == kVertical || stored == kHorizontal ? static_cast<uint8_t>(stored) : kCopy;
    combo_->setCurrentIndex(indexOfMode(mode_));
    out_label_changed();
    out1Width_->setText(QString::number(ram_get_u16(image, kOutputArea + 4)));
    out1Height_->setText(QString::number(ram_get_u16(image, kOutputArea + 6)));
    out2Width_->setText(QString::number(ram_get_u16(image, kOutputArea + 12)));
    out2Height_->setText(QString::number(ram_get_u16(image, kOutputArea + 14)));
}

void OutputSet::out_label_changed()
{
    const int index = std::clamp(combo_->currentIndex(), 0, 2);
    const ModeView& v = kModes[index];
    outLabel_->setGeometry(v.x, v.y, v.w, v.h);
    sys::setPicture(outLabel_, v.picture);
}

void OutputSet::set_mode(uint8_t mode)
{
    mode_ = mode;
    combo_->setCurrentIndex(indexOfMode(mode));
    out_label_changed();
}

void OutputSet::show_tab(QPushButton* button, int index)
{
    sys::moveSelection(tabFocus_, button, kTabSelected, kTabOther);
    stack_->setCurrentIndex(index);
}

void OutputSet::on_Button_ledset_clicked() { show_tab(ledset_, 0); }
void OutputSet::on_Button_lanset_clicked() { show_tab(lanset_, 1); }

void OutputSet::on_comboBox_activated(int index)
{
    const int W = fieldNumber(width_);
    const int H = fieldNumber(height_);
    switch (index) {
    case 0: {
        mode_ = kHorizontal;
        const Split s = horizontal(W);
        out1Width_->setText(QString::number(s.out1));
        out2Width_->setText(QString::number(s.out2));
        out1Height_->setText(QString::number(H));
        out2Height_->setText(QString::number(H));
        break;
    }
    case 1: {
        mode_ = kVertical;
        const Split s = vertical(H);
        out1Width_->setText(QString::number(W));
        out2Width_->setText(QString::number(W));
        out1Height_->setText(QString::number(s.out1));
        out2Height_->setText(QString::number(s.out2));
        break;
    }
    default: {
        mode_ = kCopy;
        int w = W;
        if (w > kMaxOutput) {
            w = kMaxOutput;
            width_->setText(QString::number(w));
        }
        for (QLineEdit* f : {out1Width_, out2Width_})
            f->setText(QString::number(w));
        for (QLineEdit* f : {out1Height_, out2Height_})
            f->setText(QString::number(H));
        break;
    }
    }
    out_label_changed();
}

void OutputSet::fieldConfirmed(My_lineEdit* field, const QString& text)
{
    bool ok = false;
    const int entry = std::max(0, text.toInt(&ok));
    if (field == out1Width_)
        confirm_out1_width(ok ? entry : 0);
    else if (field == out1Height_)
        confirm_out1_height(ok ? entry : 0);
}

// Output 1 never reaches past the screen in the splice direction, so output 2 never goes below 0.
void OutputSet::confirm_out1_width(int entry)
{
    const int W = std::max(0, fieldNumber(width_));
    int out1 = entry;
    int out2 = 0;
    if (entry > kMaxOutput) {
        set_mode(kHorizontal);
        out1 = W > kMaxOutput ? kWideOutput : kMaxOutput;
        out2 = W > kMaxOutput ? wideRemainder(W, out1) : W - out1;
    } else if (W <= kMaxOutput) {
        out2 = mode_ == kHorizontal ? W - out1 : out1;
    } else {
        out1 = (entry + kWideStep - 1) / kWideStep * kWideStep;
        out2 = mode_ == kHorizontal ? wideRemainder(W, out1) : out1;
    }
    if (mode_ == kHorizontal && out1 >= W) {
        out1 = W;
        out2 = 0;
    }
    out1Width_->setText(QString::number(out1));
    out2Width_->setText(QString::number(std::max(0, out2)));
}

void OutputSet::confirm_out1_height(int entry)
{
    const int H = std::max(0, fieldNumber(height_));
    int out1 = std::min(entry, kMaxOutput);
    if (mode_ == kVertical)
        out1 = std::min(out1, H);
    out1Height_->setText(QString::number(out1));
    out2Height_->setText(QString::number(mode_ == kVertical ? H - out1 : out1));
}

void OutputSet::on_Button_cancel1_clicked()
{
    sys::moveSelection(applyFocus1_, cancel1_, style::kActionSelected, style::kActionOther);
}

void OutputSet::on_Button_apply1_clicked()
{
    ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    if (model) {
        const int W = screenNumber(width_);
        const int H = screenNumber(height_);
        const int screenW = std::max(0, W);
        const int screenH = std::max(0, H);
        // Output 1 as the fields hold it, within the screen in the splice direction.
        const int o1w = mode_ == kHorizontal ? std::min(fieldNumber(out1Width_), screenW) : fieldNumber(out1Width_);
        const int o1h = mode_ == kVertical ? std::min(fieldNumber(out1Height_), screenH) : fieldNumber(out1Height_);
        unsigned char* image = model->ram_para;
        const unsigned char* shadow = model->ram_para_shadow;

        ParaCommit commit;
        ram_set_u16(image, kLedWidth, static_cast<uint16_t>(W));
        ram_set_u16(image, kLedHeight, static_cast<uint16_t>(H));
        ram_set_u16(image, kSpliceMode, mode_);
        const std::array<uint16_t, 6> words = outputWords(mode_, W, H, o1w, o1h, fieldNumber(out2Height_));
        for (unsigned k = 0; k < words.size(); ++k)
            ram_set_u16(image, kOutput1Size + 2 * k, words[k]);

        const bool layoutChanged = ram_get_u16(image, kLedWidth) != ram_get_u16(shadow, kLedWidth) ||
                                   ram_get_u16(image, kLedHeight) != ram_get_u16(shadow, kLedHeight) ||
                                   ram_get_u16(image, kSpliceMode) != ram_get_u16(shadow, kSpliceMode);
        if (layoutChanged) {
            const unsigned w0 = ramaddr::window(0);
            ram_set_u16(image, w0 + kWinX, 0);
            ram_set_u16(image, w0 + kWinY, 0);
            ram_set_u16(image, w0 + kWinWidth, static_cast<uint16_t>(W));
            ram_set_u16(image, w0 + kWinHeight, static_cast<uint16_t>(H));
            for (unsigned w = 1; w < kUsedWindows; ++w)
                ram_set_u16(image, ramaddr::window(w) + kWinState, 0);
            sys::requestLedSizeHandover();
        }
        commit.set(1);
    }
    sys::moveSelection(applyFocus1_, apply1_, style::kActionSelected, style::kActionOther);
}

// ---- port view ----------------------------------------------------------------------------------

void OutputSet::wlan_init()
{
    sys::retire(grid_.frame);
    grid_ = sys::makePortGrid(portPage_, 75, group_, selected_);
    for (QPushButton* b : grid_.buttons)
        connect(b, &QPushButton::clicked, this, &OutputSet::zel_button_wlan_clicked);
}

void OutputSet::wlan_para_get(unsigned short p)
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (!fpga) {
        for (My_lineEdit* f : portFields_)
            f->clear();
        return;
    }
    const Port port = portOf(p);
    unsigned short offsets[4];
    fpga->get_eth_param_addr(port.local, &offsets[0], &offsets[1], &offsets[2], &offsets[3]);
    const uint8_t* block = fpga->MCU_RAM_PARA_func[port.fpga];
    for (int k = 0; k < 4; ++k) {
        // Several offsets are odd: the value is read byte by byte.
        const unsigned value = block[offsets[k]] | (block[offsets[k] + 1] << 8);
        portFields_[k]->setText(QString::number(value));
    }
}

void OutputSet::zel_button_wlan_clicked()
{
    const int i = senderIndex(kGroupPorts);
    if (i < 0)
        return;
    sys::markPortCell(grid_.cells[selected_], false);
    selected_ = i;
    wlan_para_get(static_cast<unsigned short>(selected_ + kGroupPorts * group_));
    sys::markPortCell(grid_.cells[selected_], true);
}

void OutputSet::select_group(int group)
{
    sys::moveSelection(groupFocus_, groups_[group], style::kActionSelected, style::kActionOther);
    group_ = group;
    selected_ = 0;
    wlan_init();
    wlan_para_get(static_cast<unsigned short>(kGroupPorts * group_));
}

void OutputSet::on_Button_apply2_clicked()
{
    sys::moveSelection(applyFocus2_, apply2_, style::kActionSelected, style::kActionOther);
}

void OutputSet::on_Button_cancel2_clicked()
{
    sys::moveSelection(applyFocus2_, cancel2_, style::kActionSelected, style::kActionOther);
}
