// The smart-mapping page's frame, menu, texts, port grid, the quick set-up wizard and the job
// start shared by every flow. The scan-file, curing and mapping flows are in smartmapping_files.cpp.
#include "ui/system/smartmapping.h"

#include <QAbstractButton>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>

#include "core/global.h"
#include "ledout/card_job_report.h"
#include "ledout/fpga_manage.h"
#include "ledout/scan_para.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/shell_style.h"
#include "ui/shell/shell_widgets.h"
#include "ui/system/system_widgets.h"

SmartMapping* g_smartmapping = nullptr;

namespace {

// The texts of every page, by objectName (zh, en, ru, vi, zh-TW).
constexpr sys::NamedText kTexts[] = {
    {"label_title", {"智能调屏", "Smart debugging screen", "Умная настройка экрана",
                     "Điều chỉnh màn hình thông minh", "智能調屏"}},
    {"Button_shortcut", {"快捷点屏", "Debugging\nscreen", "Пошаговая\nнастройка", "Chạm vào màn\nhình nhanh", "快捷點屏"}},
    {"Button_loadscan", {"加载扫描", "Load scan", "Загрузить\nсканирование", "Cài đặt quét", "加載掃描"}},
    {"Button_paraweld", {"参数固化", "Curing\nparameter", "Сохранение\nнастроек", "Lưu thông số", "參數固化"}},
    {"Button_mapping", {"Mapping", "Mapping", "Маршрут", "Mapping", "Mapping"}},
    {"label_step1", {"步骤1箱体设置", "Step 1 Cabinet setup", "Шаг 1. Настройка кабинета", "Bước 1: Thiết lập cabin",
                     "步驟1箱體設置"}},
    {"label_boxwidth", {"箱体宽度", "Cabinet width", "Ширина кабинета", "Chiều rộng cabin", "箱體寬度"}},
    {"label_boxheight", {"箱体高度", "Cabinet height", "Высота кабинета", "Chiều cao cabin", "箱體高度"}},
    // Russian "Далее" is Next and "Назад" is Previous.
    {"Button_next", {"下一步", "Next", "Далее", "Bước tiếp theo", "下一步"}},
    {"label_step2", {"步骤2选择网口", "Step 2 Select port", "Шаг 2. Выберите сетевой порт", "Bước 2 :Chọn cổng mạng",
                     "步驟2選擇網口"}},
    {"Button_front_2", {"上一步", "Previous", "Назад", "Thao tác\nphía trước", "上一步"}},
    {"Button_front_3", {"上一步", "Previous", "Назад", "Thao tác\nphía trước", "上一步"}},
    {"Button_next_2", {"下一步", "Next", "Далее", "Bước tiếp theo", "下一步"}},
    {"label_step3", {"步骤3屏参设置", "Step 3 Screen parameter setting", "Шаг 3.Настройка параметров экрана",
                     "Bước 3:Cài đặt thông số màn hình", "步驟3屏參設置"}},
    {"label_boxline", {"箱体行数", "Number of Cabinet in rows", "Кол-во рядов", "Số lượng hàng tủ", "箱體行數"}},
    {"label_boxlcolumn", {"箱体列数", "Number of Cabinet in lines", "Кол-во столбцов", "Số lượng cột tủ", "箱體列數"}},
    {"label_routeway", {"屏体走线方式", "Screen alignment mode", "Тип подключения кабинетов",
                        "Chế độ căn chỉnh màn hình", "屏體走線方式"}},
    {"label_horizon", {"水平偏移", "Horizontal offset", "Горизонтальное смещение", "Bù đắp theo chiều ngang", "水平偏移"}},
    {"label_vert", {"垂直偏移", "Vertical offset", "Вертикальное смещение", "Bù đắp theo chiều dọc", "垂直偏移"}},
    {"Button_send", {"发送", "Send", "Отправить", "Gửi", "髮送"}},
    {"Button_cancel", shell::kTextCancel},
    {"label_step1_5", {"步骤1选择网口", "Step 1 Select network port", "Шаг 1. Выбор LAN-порта", "Bước 1 Chọn cổng mạng",
                       "步驟1選擇網口"}},
    {"Button_next_5", {"下一步", "Next", "Далее", "Bước tiếp theo", "下一步"}},
    {"label_step2_6", {"步骤2加载扫描参数", "Step 2 Upload scan parameters", "Шаг 2.Настройка сканирования",
                       "Bước 2Tải thông số quét", "步驟2加載掃描參數"}},
    {"label_step2_7", {"检测到以下屏参文件", "Detected the following screen parameter files",
                       "Были обнаружены следующие файлы параметров экрана",
                       "Các tập tin tham số màn hình sau đã được phát hiện", "檢測到以下屏參文件"}},
    {"Button_front_6", {"上一步", "Previous", "Назад", "Thao tác\nphía trước", "上一步"}},
    {"Button_load", {"加载", "Load", "Загрузка", "Tải về", "加載"}},
    {"label_step1_6", {"参数固化操作", "Parameter curing operation", "Полное сохранение всех настроек", "Lưu thông số",
                       "參數固化操作"}},
    {"Button_confirm", shell::kTextOk},
    {"label_step1_7", {"Mapping开关", "Mapping switch", "Переключатель сопоставления", "Bật mapping", "Mapping開關"}},
};

constexpr LangText kRoute = {"走线%1", "Routing %1", "Путь %1", "Dấu vết%1", "走線%1"};

// Keypad titles of the six fields.
struct FieldTitle {
    const char* objectName;
    LangText title;
};
constexpr FieldTitle kFieldTitles[6] = {
    {"lineEdit_X", {"箱体宽度", "width", "width", "width", "箱體寬度"}},
    {"lineEdit_Y", {"箱体高度", "height", "height", "height", "箱體高度"}},
    {"lineEdit_line", {"箱体行数", "rows", "rows", "rows", "箱體行數"}},
    {"lineEdit_column", {"箱体列数", "lines", "lines", "lines", "箱體列數"}},
    {"lineEdit_horzion", {"水平偏移", "Horizontal", "Horizontal", "Horizontal", "水平偏移"}},
    {"lineEdit_vert", {"垂直偏移", "Vertical", "Vertical", "Vertical", "垂直偏移"}},
};

constexpr const char* kFieldStyle = "color: rgb(255, 255, 255);\nbackground-color: rgb(33, 36, 53);";
constexpr uint8_t kJobSmartMapping = 1;

using sys::fieldNumber;

}  // namespace

SmartMapping::SmartMapping(QWidget* parent) : shell::PageBase("SmartMapping", kFocus, shell::kSettingsFocus, parent)
{
    keepPointer(g_smartmapping);
    titleLabel()->setGeometry(155, 15, 500, 42);

    QStringList names = {"page"};
    for (int i = 2; i <= 8; ++i)
        names << QStringLiteral("page_%1").arg(i);
    stack_ = sys::makeFramedStack(this, names);
    QWidget* pages[8];
    for (int i = 0; i < 8; ++i)
        pages[i] = stack_->widget(i);
    build_menu();
    build_cabinet(pages[kCabinet]);
    build_port(pages[kPort], 0);
    build_screen(pages[kScreen]);
    build_routing(pages[kRouting]);
    build_port(pages[kLoadPort], 4);
    build_file_list(pages[kFileList]);
    build_curing(pages[kCuring]);
    build_mapping(pages[kMapping]);
    gridPages_[0] = pages[kPort];
    gridPages_[1] = pages[kLoadPort];

    stack_->setCurrentIndex(kCabinet);
    button_select(menu_[0]);
    sys::moveSelection(groupFocus_, groups_[0], style::kActionSelected, style::kActionOther);
    line_type.port = 0;
    // Job progress reaches this page from the LED output's thread through the GUI thread.
    cardjobs::attach(cardjobs::Page::SmartMapping, this);
    language_changed();
    line_select(1);
    listFlag_ = 0;
}

SmartMapping::~SmartMapping() = default;

void SmartMapping::build_menu()
{
    QWidget* column = sys::makeArea(this, "frame_menu", 0, 72, 165, 408);
    const char* names[4] = {"Button_shortcut", "Button_loadscan", "Button_paraweld", "Button_mapping"};
    void (SmartMapping::*handlers[4])() = {&SmartMapping::on_Button_shortcut_clicked,
                                           &SmartMapping::on_Button_loadscan_clicked,
                                           &SmartMapping::on_Button_paraweld_clicked,
                                           &SmartMapping::on_Button_mapping_clicked};
    for (int i = 0; i < 4; ++i) {
        menu_[i] = sys::makeButton(column, names[i], 20, 6 + 74 * i, 140, 60);
        shell::markSelected(menu_[i], false);
        connect(menu_[i], &QPushButton::clicked, this, handlers[i]);
    }
}

namespace {

My_lineEdit* entryField(QWidget* page, const char* name, int y, const char* text)
{
    My_lineEdit* f = sys::makeField(page, name, 398, y, 200, 40);
    f->setStyleSheet(kFieldStyle);
    QFont font = f->font();
    font.setPointSize(14);
    f->setFont(font);
    f->setText(text);
    return f;
}

QPushButton* stepButton(QWidget* page, const char* name, int x, int y)
{
    QPushButton* b = sys::makeButton(page, name, x, y, 180, 50);
    shell::markAction(b, false);
    return b;
}

}  // namespace

void SmartMapping::build_cabinet(QWidget* page)
{
    sys::makeText(page, "label_step1", 10, 10, 560, 30);
    sys::makeText(page, "label_boxwidth", 10, 60, 380, 40);
    sys::makeText(page, "label_boxheight", 10, 115, 380, 40);
    width_ = entryField(page, "lineEdit_X", 60, "128");
    height_ = entryField(page, "lineEdit_Y", 115, "96");
    connect(stepButton(page, "Button_next", 418, 340), &QPushButton::clicked, this,
            &SmartMapping::on_Button_next_clicked);
}

void SmartMapping::build_port(QWidget* page, int first)
{
    sys::makeText(page, first == 0 ? "label_step2" : "label_step1_5", 10, 10, 560, 30);
    for (int g = 0; g < 4; ++g) {
        QPushButton* b = sys::makeButton(page, QStringLiteral("Button_wlan%1").arg(first + g + 1), 10 + 150 * g, 50,
                                         130, 50);
        b->setStyleSheet(style::kActionOther);
        const unsigned char which = first == 0 ? 0 : 1;
        connect(b, &QPushButton::clicked, this, [this, g, which] { select_group(g, which); });
        groups_[first + g] = b;
    }
    auto* line = new QFrame(page);
    line->setObjectName(first == 0 ? "line" : "line_5");
    line->setGeometry(0, 120, 608, 1);
    line->setStyleSheet("background-color: rgb(133, 129, 153);");
    if (first == 0) {
        connect(stepButton(page, "Button_front_2", 223, 340), &QPushButton::clicked, this,
                &SmartMapping::on_Button_front_2_clicked);
        connect(stepButton(page, "Button_next_2", 418, 340), &QPushButton::clicked, this,
                &SmartMapping::on_Button_next_2_clicked);
    } else {
        connect(stepButton(page, "Button_next_5", 420, 340), &QPushButton::clicked, this,
                &SmartMapping::on_Button_next_5_clicked);
    }
}

void SmartMapping::build_screen(QWidget* page)
{
    sys::makeText(page, "label_step3", 10, 10, 590, 30);
    const char* labels[5] = {"label_boxline", "label_boxlcolumn", "label_routeway", "label_horizon", "label_vert"};
    for (int i = 0; i < 5; ++i)
        sys::makeText(page, labels[i], 10, 60 + 55 * i, 380, 40);
    rows_ = entryField(page, "lineEdit_line", 60, "1");
    columns_ = entryField(page, "lineEdit_column", 115, "1");
    route_ = sys::makeButton(page, "Button_route", 398, 170, 200, 40);
    connect(route_, &QPushButton::clicked, this, &SmartMapping::on_Button_route_clicked);
    horizontal_ = entryField(page, "lineEdit_horzion", 225, "0");
    vertical_ = entryField(page, "lineEdit_vert", 280, "0");
    connect(stepButton(page, "Button_front_3", 223, 340), &QPushButton::clicked, this,
            &SmartMapping::on_Button_front_3_clicked);
    QPushButton* send = stepButton(page, "Button_send", 418, 340);
    connect(send, &QPushButton::clicked, this, &SmartMapping::on_Button_send_clicked);
    for (My_lineEdit* f : {width_, height_, rows_, columns_, horizontal_, vertical_})
        for (const FieldTitle& t : kFieldTitles)
            if (f->objectName() == QLatin1String(t.objectName))
                bindField(f, t.title);
}

void SmartMapping::build_routing(QWidget* page)
{
    for (int n = 1; n <= kRoutes; ++n) {
        auto* b = new QToolButton(page);
        b->setObjectName(QStringLiteral("Button_route%1").arg(n));
        b->setGeometry(10 + 120 * ((n - 1) % 5), 20 + 95 * ((n - 1) / 5), 80, 80);
        b->setFocusPolicy(Qt::NoFocus);
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setStyleSheet("QToolButton{background:transparent;color:#FFFFFF;border:none;font:13px;}"
                         "QToolButton:pressed{background-color:#4777FF;}");
        sys::setIcon(b, QStringLiteral(":/png/line%1.png").arg(n), QSize(48, 48));
        connect(b, &QToolButton::clicked, this, &SmartMapping::zel_button_route_clicked);
        routes_[n - 1] = b;
    }
    connect(stepButton(page, "Button_cancel", 410, 330), &QPushButton::clicked, this,
            &SmartMapping::on_Button_cancel_clicked);
}

// ---- menu, pages, texts ---------------------------------------------------------------------------

int SmartMapping::currentIndex() const { return stack_->currentIndex(); }

void SmartMapping::show_index(int index) { stack_->setCurrentIndex(index); }

void SmartMapping::button_select(QPushButton* button)
{
    if (menuFocus_ && menuFocus_ != button)
        shell::markSelected(menuFocus_, false);
    menuFocus_ = button;
    shell::markSelected(button, true);
    style_loadscan();
}

void SmartMapping::language_changed()
{
    sys::setTexts(this, kTexts);
    for (int g = 0; g < 8; ++g)
        groups_[g]->setText(sys::portGroupText(g % 4));
    for (int n = 1; n <= kRoutes; ++n)
        routes_[n - 1]->setText(langText(kRoute).arg(n));
    line_select(line_type.pattern);
    if (currentIndex() == kPort)
        wlan_init(0);
    else if (currentIndex() == kLoadPort)
        wlan_init(1);
    count_scan_files();
    style_loadscan();
}

void SmartMapping::syncUpdate(int code) { refreshNow(code); }

// ---- port grid ------------------------------------------------------------------------------------

void SmartMapping::wlan_init(unsigned char which)
{
    sys::retire(grid_.frame);
    // The cell of the port the record holds is outlined, in whichever group it lies.
    const int held = line_type.port / sys::kGroupPorts == group_ ? line_type.port % sys::kGroupPorts : -1;
    grid_ = sys::makePortGrid(gridPages_[which ? 1 : 0], 135, group_, held);
    for (QPushButton* b : grid_.buttons)
        connect(b, &QPushButton::clicked, this, &SmartMapping::zel_button_wlan_clicked);
}

void SmartMapping::select_group(int group, unsigned char which)
{
    sys::moveSelection(groupFocus_, groups_[(which ? 4 : 0) + group], style::kActionSelected, style::kActionOther);
    group_ = group;
    wlan_init(which);
}

void SmartMapping::zel_button_wlan_clicked()
{
    const int i = senderIndex(sys::kGroupPorts);
    if (i < 0)
        return;
    sys::markPortCell(grid_.cells[cell_], false);
    cell_ = i;
    line_type.port = static_cast<uint8_t>(group_ * sys::kGroupPorts + cell_);
    sys::markPortCell(grid_.cells[cell_], true);
}

// ---- quick set-up ---------------------------------------------------------------------------------

void SmartMapping::on_Button_shortcut_clicked()
{
    if (g_qround_bar)
        return;
    button_select(menu_[0]);
    show_index(kCabinet);
    listFlag_ = 0;
}

void SmartMapping::on_Button_next_clicked()
{
    line_type.width = static_cast<uint16_t>(fieldNumber(width_));
    line_type.height = static_cast<uint16_t>(fieldNumber(height_));
    select_group(0, 0);
    show_index(kPort);
}

void SmartMapping::on_Button_front_2_clicked() { show_index(kCabinet); }

void SmartMapping::on_Button_next_2_clicked()
{
    show_index(kScreen);
    line_select(line_type.pattern);
}

void SmartMapping::on_Button_front_3_clicked()
{
    if (g_qround_bar)
        return;
    show_index(kPort);
}

void SmartMapping::on_Button_route_clicked() { show_index(kRouting); }

void SmartMapping::zel_button_route_clicked()
{
    for (int n = 1; n <= kRoutes; ++n)
        if (sender() == routes_[n - 1])
            line_select(n);
    show_index(kScreen);
}

void SmartMapping::on_Button_cancel_clicked() { on_Button_next_2_clicked(); }

void SmartMapping::line_select(int n)
{
    if (n < 1 || n > kRoutes)
        return;
    sys::setIcon(route_, QStringLiteral(":/png/line%1.png").arg(n), QSize(30, 30));
    route_->setText(langText(kRoute).arg(n));
    line_type.pattern = static_cast<uint8_t>(n);
}

void SmartMapping::fieldConfirmed(My_lineEdit* field, const QString& text) { field->setText(text); }

void SmartMapping::on_Button_send_clicked()
{
    if (job_running())
        return;
    // The record is complete before the job word appears.
    line_type.rows = static_cast<uint8_t>(fieldNumber(rows_));
    line_type.columns = static_cast<uint8_t>(fieldNumber(columns_));
    line_type.x_offset = static_cast<uint16_t>(fieldNumber(horizontal_));
    line_type.y_offset = static_cast<uint16_t>(fieldNumber(vertical_));
    start_job(kJobSmartMapping);
}

// ---- jobs -----------------------------------------------------------------------------------------

// A job runs while its ring is shown or the job block holds a job (also one another page or the
// links started), and while an upgrade keeps its step in the same block.
bool SmartMapping::job_running() const
{
    return g_qround_bar || (fpga_manage::job_word() & 0xFF) != 0 || g_usb_grade.load() != 0;
}

// The job word is published last (one atomic store of code and state) after every input.
bool SmartMapping::start_job(uint8_t job)
{
    if (job_running())
        return false;
    QRoundProgressBar::create_qround_bar(this);
    if (g_qround_bar)
        connect(this, &SmartMapping::sig_qround_bar_update, g_qround_bar, &QRoundProgressBar::para_sync,
                Qt::UniqueConnection);
    fpga_manage::set_job(job, 0);
    return true;
}

// While a job runs the page stays: its ring shows the job's progress until the end.
void SmartMapping::on_Button_back_clicked()
{
    if (g_qround_bar)
        return;
    cardjobs::attach(cardjobs::Page::SmartMapping, nullptr);
    shell::PageBase::on_Button_back_clicked();
}
