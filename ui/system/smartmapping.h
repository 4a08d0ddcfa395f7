// The smart-mapping page (page 24): the quick screen set-up wizard (cabinet size, output port,
// rows, columns, offsets and routing pattern, sent to the receiving cards as job 1), the load of a
// scan-parameter file from the device or a USB stick (job 2), parameter curing (job 3) and the
// mapping switch (job 4). The jobs run on the LED output's thread; their progress comes back on
// sig_qround_bar_update to the progress ring.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

#include "ui/shell/page_base.h"
#include "ui/system/system_widgets.h"

class QFrame;
class QLabel;
class QPushButton;
class QStackedWidget;
class QToolButton;
class My_lineEdit;

class SmartMapping : public shell::PageBase {
    Q_OBJECT

public:
    static constexpr int kFocus = 24;
    static constexpr int kMaxFiles = 100;
    static constexpr int kPageRows = sys::kListRows;   // one page of the file list
    static constexpr int kRoutes = 16;
    static constexpr const char* kScanDir = "/data/smartmapping";
    static constexpr const char* kUsbDir = "/mnt/usb1";
    static constexpr const char* kScanSuffix = "jyfile";
    // Stacked pages.
    enum Index { kCabinet = 0, kPort = 1, kScreen = 2, kRouting = 3, kLoadPort = 4, kFileList = 5, kCuring = 6,
                 kMapping = 7 };

    explicit SmartMapping(QWidget* parent = nullptr);
    ~SmartMapping() override;

    void syncUpdate(int code);
    void language_changed() override;
    void button_select(QPushButton* button);
    void wlan_init(unsigned char which);
    void line_select(int n);
    void scan_file_list();

    int currentIndex() const;
    uint32_t scanFilesAvailable() const { return scanAvailable_; }
    const QStringList& filePaths() const { return filePaths_; }
    int lastPage() const { return lastPage_; }
    // The file chosen on the list (kept by the page; handed to the load job when it starts).
    const QString& chosenFile() const { return chosen_; }

signals:
    void sig_qround_bar_update(int value);

public slots:
    void on_Button_back_clicked() override;
    void on_Button_shortcut_clicked();
    void on_Button_next_clicked();
    void on_Button_front_2_clicked();
    void on_Button_next_2_clicked();
    void on_Button_front_3_clicked();
    void on_Button_route_clicked();
    void on_Button_cancel_clicked();
    void on_Button_send_clicked();
    void zel_button_wlan_clicked();
    void zel_button_route_clicked();
    // Load, curing, mapping.
    void on_Button_loadscan_clicked();
    void on_Button_next_5_clicked();
    void on_Button_front_6_clicked();
    void zel_button_file_clicked();
    void zel_Button_previous_clicked();
    void zel_Button_next_clicked();
    void on_Button_load_clicked();
    void on_Button_paraweld_clicked();
    void on_Button_confirm_clicked();
    void on_Button_mapping_clicked();
    void on_Button_mapping_state_clicked();

protected:
    void pageRefresh(int code) override;
    void fieldConfirmed(My_lineEdit* field, const QString& text) override;

private:
    void build_menu();
    void build_cabinet(QWidget* page);
    void build_port(QWidget* page, int firstGroupButton);
    void build_screen(QWidget* page);
    void build_routing(QWidget* page);
    void build_file_list(QWidget* page);
    void build_curing(QWidget* page);
    void build_mapping(QWidget* page);
    void select_group(int group, unsigned char which);
    void show_index(int index);
    bool job_running() const;
    bool start_job(uint8_t job);
    void count_scan_files();
    void list_scan_files();
    int list_folder(const QString& folder, int room);
    void set_choice(const QString& path);
    void style_loadscan();
    bool mapping_on();

    QStackedWidget* stack_;
    QPushButton* menu_[4];          // shortcut, loadscan, paraweld, mapping
    QPushButton* menuFocus_ = nullptr;
    QPushButton* groups_[8];        // Button_wlan1-4 (port page), Button_wlan5-8 (load page)
    QPushButton* groupFocus_ = nullptr;
    QWidget* gridPages_[2];         // stacked pages 1 and 4
    int group_ = 0;
    int cell_ = 0;
    sys::PortGrid grid_;
    My_lineEdit* width_;
    My_lineEdit* height_;
    My_lineEdit* rows_;
    My_lineEdit* columns_;
    My_lineEdit* horizontal_;
    My_lineEdit* vertical_;
    QPushButton* route_;
    QToolButton* routes_[kRoutes];
    QPushButton* mappingState_;

    // Scan files.
    uint32_t scanAvailable_ = 0;
    QStringList filePaths_;         // logical paths: device files first, then the stick's
    int deviceCount_ = 0;
    int filePage_ = 0;
    int lastPage_ = -1;
    uint32_t listFlag_ = 0;
    QWidget* filePage5_ = nullptr;
    QFrame* fileFrame_ = nullptr;
    QLabel* rowLabels_[kPageRows] = {};
    QString rowPaths_[kPageRows];
    bool rowOnStick_[kPageRows] = {};
    int selectedRow_ = 0;
    QString chosen_;
};

extern SmartMapping* g_smartmapping;
