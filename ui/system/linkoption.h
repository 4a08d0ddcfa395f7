// The communication page (page 10): the main serial line's fixed settings, the Ethernet address,
// subnet mask and gateway typed octet by octet, and the USB upgrade tab that lists the packages on
// the stick and starts their installation by the LED output's thread.
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
class My_lineEdit;

class LinkOption : public shell::PageBase {
    Q_OBJECT

public:
    static constexpr int kFocus = 10;
    static constexpr int kMaxPackages = 100;
    static constexpr int kPageEntries = sys::kListRows;   // one page of the file list
    static constexpr const char* kUsbRoot = "/mnt/usb1/";

    explicit LinkOption(QWidget* parent = nullptr);
    ~LinkOption() override;

    void syncUpdate(int code);
    void language_changed() override;

    // A keypad text as an address octet: 1 to 3 digits, at most 255, without leading zeros;
    // empty when the text is no octet.
    static QString canonicalOctet(const QString& text);
    // The folder of the upgrade packages (a system path).
    static QString upgradeFolder();

    // USB upgrade tab.
    void get_file_list_smartpath();
    void rcv_self_recovery_file_list();
    void menulist_button_ok_page();
    const QStringList& packages() const { return usb_file_list; }
    bool upgradeStarted() const { return file_downing != 0; }

public slots:
    void on_Button_com_clicked();
    void on_Button_wlan_clicked();
    void on_Button_usb_clicked();
    void on_Button_direct_clicked();
    void on_Button_IP_clicked();
    void on_Button_net_apply_clicked();
    void on_Button_net_cancel_clicked();
    void on_Button_ok_clicked();

protected:
    void pageRefresh(int code) override;
    void fieldConfirmed(My_lineEdit* field, const QString& text) override;

private:
    void build_serial_tab(QWidget* page);
    void build_network_tab(QWidget* page);
    void build_usb_tab(QWidget* page);
    void select_tab(QPushButton* button, int index);
    void fill_address_fields();
    QString keypad_title(const My_lineEdit* field) const;
    QString row_text(My_lineEdit* const (&row)[4]) const;
    bool check_address_fields();
    void set_octet(My_lineEdit* field, const QString& octet);
    static void mark_fault(My_lineEdit* field, bool fault);
    void show_upgrade_log();

    QPushButton* link_tab_button = nullptr;
    QString edit_name;

    QStackedWidget* stack_;
    QPushButton* com_;
    QPushButton* wlan_;
    QPushButton* usb_;
    QLabel* baud_;
    QLabel* bit_;
    QLabel* stop_;
    QLabel* network_;
    QPushButton* direct_;
    QLabel* directLabel_;
    QPushButton* ip_;
    QLabel* ipLabel_;
    QLabel* rowCaptions_[3];
    My_lineEdit* ipFields_[4];
    My_lineEdit* maskFields_[4];
    My_lineEdit* gateFields_[4];
    QPushButton* netCancel_;
    QPushButton* netApply_;
    QPushButton* ok_;
    QLabel* label_log;
    QWidget* usbPage_;
    QFrame* frame_file = nullptr;

    // Packages of the last listing: logical paths, highlight flags, counts by suffix.
    QStringList usb_file_list;
    uint32_t usb_file_num = 0;
    uint8_t usb_file_flag[kMaxPackages] = {};
    int8_t usb_page = 0;
    uint8_t file_downing = 0;
    uint8_t zel_count_ = 0;
    uint8_t zelzk_count_ = 0;
};

extern LinkOption* g_linkoption;
