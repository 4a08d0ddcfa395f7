#include "ui/shell/option.h"

#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include "core/global.h"
#include "core/syncupdate.h"
#include "core/zelrampara.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/page_nav.h"
#include "ui/shell/shell_style.h"
#include "ui/shell/shell_text.h"
#include "ui/shell/shell_widgets.h"
#include "ui/system/advancedoption.h"
#include "ui/system/linkoption.h"
#include "ui/system/outputset.h"
#include "ui/system/smartmapping.h"
#include "ui/system/test_chart.h"
#include "ui/video/imagelayout.h"
#include "ui/video/imagequality.h"
#include "ui/video/inputcut.h"

Option* g_option = nullptr;

namespace {

constexpr int kFocus = 5;

constexpr LangText kTitle = {"设置", "Settings", "Настройки", "Cài đặt", "設置"};
constexpr LangText kPassword = {"访问密码", "Code", "Код", "Mã", "訪問密碼"};
constexpr LangText kWrong = {"密码错误", "Wrong access code", "Неверный код", "Sai mã truy cập", "密碼錯誤"};

using Slot = void (Option::*)();

struct MenuEntry {
    const char* objectName;
    const char* icon;
    LangText caption;
    Slot slot;
};

constexpr MenuEntry kMenu[8] = {
    {"image_layout", ":/png/menu_layout.png", {"画面布局", "Window layout", "Окна", "Bố cục", "畫面佈局"},
     &Option::on_image_layout_clicked},
    {"input_cut", ":/png/menu_crop.png", {"输入裁剪", "Input crop", "Обрезка входа", "Cắt đầu vào", "輸入裁剪"},
     &Option::on_input_cut_clicked},
    {"image_quality", ":/png/menu_quality.png", {"画质调节", "Image quality", "Качество", "Chất lượng", "畫質調節"},
     &Option::on_image_quality_clicked},
    {"output_set", ":/png/menu_output.png", {"输出设置", "Output", "Выход", "Đầu ra", "輸出設置"},
     &Option::on_output_set_clicked},
    {"test_chart", ":/png/menu_test.png", {"测试画面", "Test pattern", "Тест. шаблон", "Mẫu kiểm tra", "測試畫面"},
     &Option::on_test_chart_clicked},
    {"smart_mapping", ":/png/menu_mapping.png", {"智能走线", "Smart mapping", "Смарт-карта", "Ánh xạ", "智能走線"},
     &Option::on_smart_mapping_clicked},
    {"link_set", ":/png/menu_link.png", {"通讯设置", "Network", "Связь", "Kết nối", "通訊設置"},
     &Option::on_link_set_clicked},
    {"AdvanceButton", ":/png/menu_advanced.png", {"高级设置", "Advanced", "Дополнительно", "Nâng cao", "高級設置"},
     &Option::on_AdvanceButton_clicked},
};

constexpr int kTileW = 175;
constexpr int kTileH = 180;
constexpr int kTileGap = 20;
constexpr int kTileLeft = 25;
constexpr int kTileTop = 88;

// The stored default "No", like an empty setting, means the layout page has no access code: the
// numeric keypad could never type it.
bool layout_code_set() { return !g_imagelayoutpassword.isEmpty() && g_imagelayoutpassword != "No"; }

}  // namespace

Option::Option(QWidget* parent) : QDialog(parent)
{
    setObjectName("Option");
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setGeometry(0, 0, 800, 480);
    setStyleSheet(QStringLiteral("QDialog#Option{%1}").arg(style::kPage));

    auto* back = shell::makeBackButton(this);
    connect(back, &QPushButton::clicked, this, &Option::on_Button_back_clicked);
    title_ = shell::makeTitle(this, "label_title");

    for (int i = 0; i < 8; ++i) {
        const MenuEntry& e = kMenu[i];
        buttons_[i] = shell::makeTile(this, e.objectName, e.icon, kTileLeft + (i % 4) * (kTileW + kTileGap),
                                      kTileTop + (i / 4) * (kTileH + kTileGap), kTileW, kTileH);
        buttons_[i]->setIconSize(QSize(64, 64));
        connect(buttons_[i], &QToolButton::clicked, this, e.slot);
    }

    // The access code of the window layout page is typed on the keypad into this hidden field.
    password_ = new My_lineEdit(this);
    password_->setObjectName("lineEdit_password");
    password_->hide();
    passwordWrong_ = shell::makeLabel(this, "label_password_wrong", 520, 14, 260, 44,
                                      "color:#F04444;font:bold 18px;background:transparent;",
                                      Qt::AlignRight | Qt::AlignVCenter);
    passwordWrong_->hide();

    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &Option::confirmString);
    refresh_.set(kFocus, [this](int) {
        syncUpdate();
        return false;
    });
    language_changed();
}

Option::~Option()
{
    if (g_option == this)
        g_option = nullptr;
}

void Option::syncUpdate()
{
    if (ZelRamPara::p_zelrampara_config && ZelRamPara::p_zelrampara_config->ZelLanguageChanged())
        language_changed();
}

void Option::language_changed()
{
    title_->setText(langText(kTitle));
    passwordWrong_->setText(langText(kWrong));
    for (int i = 0; i < 8; ++i)
        buttons_[i]->setText(langText(kMenu[i].caption));
}

void Option::reject() { on_Button_back_clicked(); }

void Option::on_Button_back_clicked()
{
    setAttribute(Qt::WA_DeleteOnClose);
    QDialog::reject();
    if (g_option == this)
        g_option = nullptr;
    refresh_.release();
    if (g_mainwindow) {
        g_mainwindow->language_changed();
        g_mainwindow->syncUpdate();
    }
    g_page_focus = 1;
}

void Option::on_input_cut_clicked() { shell::openPage(g_inputcut, InputCut::kFocus); }

// Each button opens its page without a parent, with its page number, run modally.
void Option::on_output_set_clicked() { shell::openPage(g_outputset, OutputSet::kFocus); }
void Option::on_test_chart_clicked() { shell::openPage(g_test_chart, test_chart::kFocus); }
void Option::on_AdvanceButton_clicked() { shell::openPage(g_advancedoption, AdvancedOption::kFocus); }
void Option::on_link_set_clicked() { shell::openPage(g_linkoption, LinkOption::kFocus); }
void Option::on_image_quality_clicked() { shell::openPage(g_imagequality, ImageQuality::kFocus); }
void Option::on_smart_mapping_clicked() { shell::openPage(g_smartmapping, SmartMapping::kFocus); }

void Option::on_image_layout_clicked()
{
    passwordWrong_->hide();
    if (!layout_code_set()) {
        open_image_layout();
        return;
    }
    show_numberkeyboard_ui(QString());
}

void Option::open_image_layout() { shell::openPage(g_imagelayout, ImageLayout::kFocus); }

void Option::show_numberkeyboard_ui(QString)
{
    if (!g_numberkeyboard)
        return;
    g_lineedit = password_;
    g_numberkeyboard->label_show(langText(kPassword), QString());
    shell::runModal(g_numberkeyboard);
}

void Option::confirmString(QString text)
{
    if (g_lineedit != password_)
        return;
    g_lineedit = nullptr;
    if (text != g_imagelayoutpassword) {
        passwordWrong_->show();
        return;
    }
    passwordWrong_->hide();
    open_image_layout();
}
