#include "ui/video/inputcut.h"

#include <QFrame>
#include <QLabel>
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

InputCut* g_inputcut = nullptr;

namespace {

constexpr LangText kTitle = {"输入截取", "Input intercept", "Источник", "Chặn nguồn vào", "輸入截取"};
constexpr LangText kCrop = {"截取:", "Crop:", "Обрезать:", "Cắt:", "截取:"};
// Keypad titles of the width and height fields: the Chinese ones in Chinese, else the letter.
constexpr LangText kKeypadW = {"宽", "W", "W", "W", "寬"};
constexpr LangText kKeypadH = {"高", "H", "H", "H", "H"};

constexpr const char* kFieldNames[4] = {"lineEdit_X", "lineEdit_Y", "lineEdit_W", "lineEdit_H"};
constexpr const char* kFieldLabelNames[4] = {"label_X", "label_Y", "label_W", "label_H"};
enum Field { kX, kY, kW_, kH_ };

constexpr uint16_t kNewCropW = 1920;
constexpr uint16_t kNewCropH = 1080;

ZelRamPara* model() { return ZelRamPara::p_zelrampara_config; }

int fieldValue(const QLineEdit* field) { return video::toShort(field->text()); }

}  // namespace

InputCut::InputCut(QWidget* parent)
    : PageBase("InputCut", kFocus, g_inputchoose ? InputChoose::kFocus : shell::kSettingsFocus, parent)
{
    keepPointer(g_inputcut);
    cardFont_ = font();
    cardFont_.setPointSize(12);

    tabs_ = video::makeInputTabs(this, true);

    // The form of the crop being added or edited; it covers the lower row of cards.
    edit_ = video::makeEditPanel(this, "Button_ok", cardFont_);
    form_ = edit_.frame;
    cropLabel_ = shell::makeLabel(form_, "label_crop", 16, 10, 110, 40, style::kDimText);
    source_ = shell::makeLabel(form_, "label_change_source", 130, 10, 620, 40, style::kText);
    for (int i = 0; i < 4; ++i) {
        const int x = 8 + 188 * i;
        fieldLabels_[i] = shell::makeLabel(form_, kFieldLabelNames[i], x, 66, 64, 44, style::kDimText,
                                           Qt::AlignRight | Qt::AlignVCenter);
        fields_[i] = new My_lineEdit(form_);
        fields_[i]->setObjectName(kFieldNames[i]);
        fields_[i]->setGeometry(x + 70, 66, 108, 44);
        fields_[i]->setStyleSheet(style::kField);
        bindField(fields_[i], [this, i] { return keypad_title(i); });
    }
    fieldLabels_[kX]->setText("X");
    fieldLabels_[kY]->setText("Y");

    crop_source_num_update();
    if (model())
        model()->ZelCropSourceInit();
    input_init();
    source_init();
    connect(edit_.cancel, &QPushButton::clicked, this, &InputCut::zel_button_cancel_clicked);
    connect(edit_.ok, &QPushButton::clicked, this, &InputCut::zel_button_ok_clicked);
    connect(edit_.remove, &QPushButton::clicked, this, &InputCut::zel_button_delete_clicked);

    language_changed();
}

InputCut::~InputCut() = default;

QString InputCut::keypad_title(int field) const
{
    switch (field) {
    case kX:
        return QStringLiteral("X");
    case kY:
        return QStringLiteral("Y");
    case kW_:
        return langText(kKeypadW);
    default:
        return langText(kKeypadH);
    }
}

void InputCut::input_init()
{
    for (QPushButton* b : tabs_.button)
        connect(b, &QPushButton::clicked, this, &InputCut::zel_button_input_clicked);
}

void InputCut::crop_source_num_update()
{
    for (int k = 0; k < video::kInputs; ++k)
        tabs_.count[k]->setText(QStringLiteral("(%1)").arg(video::sourceCount(video::kTabInputs[k])));
}

void InputCut::source_init()
{
    const int total = video::sourceCount(input_);
    lastPage_ = static_cast<uint8_t>(video::lastCardPage(total, kCardsPerPage));
    const int onPage = std::min(kCardsPerPage, total - kCardsPerPage * page_);

    shell::retire(container_);
    container_ = video::makeSourceContainer(this);
    for (int i = 0; i < onPage; ++i) {
        const video::SourceCard card = video::makeSourceCard(container_, i, input_, cardFont_);
        video::describeSource(input_, inputName_, i + kCardsPerPage * page_, card.name, card.detail);
        connect(card.button, &QPushButton::clicked, this, &InputCut::zel_button_source_clicked);
    }
    add_ = video::makeColumnButton(container_, "Button_add", ":/png/add.png", 10);
    connect(add_, &QPushButton::clicked, this, &InputCut::zel_button_add_clicked);
    if (page_ != 0) {
        QPushButton* prev = video::makeColumnButton(container_, "Button_previous", ":/png/previous.png", 110);
        connect(prev, &QPushButton::clicked, this, &InputCut::zel_Button_previous_clicked);
    }
    if (lastPage_ > page_) {
        QPushButton* next = video::makeColumnButton(container_, "Button_next", ":/png/next.png", 175);
        connect(next, &QPushButton::clicked, this, &InputCut::zel_Button_next_clicked);
    }
    container_->lower();
    container_->show();
}

void InputCut::zel_button_input_clicked()
{
    const int k = senderIndex(video::kInputs);
    if (k < 0)
        return;
    page_ = 0;
    input_ = static_cast<uint8_t>(video::kTabInputs[k]);
    inputName_ = video::inputName(input_);
    video::moveTabHighlight(tabs_, k);
    source_init();
    para_changed_over();
}

void InputCut::set_source_caption() { source_->setText(langText(video::kTextNamePrefix) + inputName_ + suffix_); }

void InputCut::show_form(bool withDelete)
{
    edit_.open(withDelete);
}

void InputCut::zel_button_source_clicked()
{
    const int k = senderIndex(kCardsPerPage);
    if (k < 0)
        return;
    adding_ = 0;
    selected_ = static_cast<uint8_t>(k + kCardsPerPage * page_);
    if (selected_ == 0) {
        para_changed_over();
        return;
    }
    add_->hide();
    suffix_ = QStringLiteral("-Crop-%1").arg(selected_);
    set_source_caption();
    CROP_PARA crop = {};
    int index = static_cast<int>(ramaddr::kCropEntries);
    if (model())
        model()->ZelGetCropPara(input_, selected_, &crop, &index);
    const int values[4] = {crop.x, crop.y, crop.width, crop.height};
    for (int i = 0; i < 4; ++i)
        fields_[i]->setText(QString::number(values[i]));
    show_form(true);
}

void InputCut::zel_button_add_clicked()
{
    adding_ = 1;
    add_->hide();
    suffix_ = QStringLiteral("-Crop-%1").arg(video::sourceCount(input_));
    set_source_caption();
    fields_[kX]->setText("0");
    fields_[kY]->setText("0");
    fields_[kW_]->setText(QString::number(kNewCropW));
    fields_[kH_]->setText(QString::number(kNewCropH));
    show_form(false);
}

void InputCut::zel_Button_previous_clicked()
{
    if (page_ > 0)
        --page_;
    source_init();
}

void InputCut::zel_Button_next_clicked()
{
    if (page_ < lastPage_)
        ++page_;
    source_init();
}

void InputCut::fieldConfirmed(My_lineEdit* field, const QString& text) { field->setText(text); }

void InputCut::zel_button_ok_clicked()
{
    CROP_PARA para = {input_, fieldValue(fields_[kX]), fieldValue(fields_[kY]), fieldValue(fields_[kW_]),
                      fieldValue(fields_[kH_])};
    if (ZelRamPara* m = model()) {
        if (adding_) {
            m->ZelAddNewCrop(input_, &para);
        } else {
            // An edited rectangle is committed like every other change, so it reaches the chip
            // and the parameter file now, not with somebody else's next change.
            ParaCommit commit;
            m->ZelSetCropPara(static_cast<char>(input_), static_cast<char>(selected_), &para);
            commit.set(1);
        }
    }
    after_table_change();
}

void InputCut::zel_button_delete_clicked()
{
    if (model())
        model()->ZelDeleteCrop(static_cast<char>(input_), static_cast<char>(selected_));
    after_table_change();
}

void InputCut::after_table_change()
{
    if (model())
        model()->ZelCropSourceInit();
    crop_source_num_update();
    source_init();
    para_changed_over();
}

void InputCut::zel_button_cancel_clicked() { para_changed_over(); }

void InputCut::para_changed_over()
{
    edit_.close();
    if (add_)
        add_->show();
}

void InputCut::syncUpdate(int code)
{
    // The base ran the language check (language_changed rebuilds the cards).
    constexpr int kAliasFileReceived = 103;
    if (code == kAliasFileReceived ||
        video::differs(ramaddr::kCropTable, ramaddr::kCropEntries * ramaddr::kCropEntrySize)) {
        if (model())
            model()->ZelCropSourceInit();
        crop_source_num_update();
        source_init();
    }
}

void InputCut::language_changed()
{
    titleLabel()->setText(langText(kTitle));
    cropLabel_->setText(langText(kCrop));
    fieldLabels_[kW_]->setText(langText(shell::kTextWidth));
    fieldLabels_[kH_]->setText(langText(shell::kTextHeight));
    edit_.cancel->setText(langText(shell::kTextCancel));
    edit_.ok->setText(langText(shell::kTextOk));
    edit_.remove->setText(langText(video::kTextDelete));
    if (!suffix_.isEmpty())
        set_source_caption();
    source_init();
    if (form_->isVisible())
        add_->hide();
}

void InputCut::returnBeneath()
{
    if (beneathFocus() == InputChoose::kFocus && g_inputchoose) {
        g_inputchoose->language_changed();
        g_inputchoose->initSource();
        g_inputchoose->crop_source_num_update();
        return;
    }
    PageBase::returnBeneath();
}
