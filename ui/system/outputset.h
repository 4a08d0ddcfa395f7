// The output settings page (page 6): the LED screen size, the splice mode over the two output
// FPGAs (horizontal, vertical or copy) with the size of output 1, and the port view showing the
// screen area of each of the 32 Ethernet output ports.
#pragma once

#include <QString>

#include <cstdint>

#include "ui/shell/page_base.h"
#include "ui/system/system_widgets.h"

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QStackedWidget;
class My_lineEdit;

// The splice arithmetic of the LED tab, as plain functions.
namespace output_split {

constexpr int kMaxOutput = 8188;     // widest (and tallest) output of one FPGA
constexpr int kWideOutput = 8192;    // output 1 of a screen wider than kMaxOutput
constexpr int kWideStep = 32;        // output 1 of a wide screen is a multiple of this
constexpr int kNarrowStep = 8;

struct Split {
    int out1;
    int out2;
};

// Output widths of a screen `width` wide split side by side.
Split horizontal(int width);
// Output heights of a screen `height` tall split one above the other.
Split vertical(int height);
// Output 2's width shown beside an output 1 width of `out1` on a screen wider than kMaxOutput.
int wideRemainder(int width, int out1);

}  // namespace output_split

class OutputSet : public shell::PageBase {
    Q_OBJECT

public:
    static constexpr int kFocus = 6;
    static constexpr int kPorts = 32;
    static constexpr int kGroupPorts = sys::kGroupPorts;

    // Splice modes as the image holds them.
    static constexpr uint8_t kHorizontal = 3;
    static constexpr uint8_t kVertical = 2;
    static constexpr uint8_t kCopy = 4;

    explicit OutputSet(QWidget* parent = nullptr);
    ~OutputSet() override;

    void syncUpdate();
    void language_changed() override;
    void combox_language_change();
    void para_init();
    void out_label_changed();

    // Port view: the cells of the current group, and the values of port p (0-31).
    void wlan_init();
    void wlan_para_get(unsigned short port);

    uint8_t mode() const { return mode_; }
    int selectedPort() const { return selected_; }

public slots:
    void on_Button_ledset_clicked();
    void on_Button_lanset_clicked();
    void on_Button_apply1_clicked();
    void on_Button_cancel1_clicked();
    void on_Button_apply2_clicked();
    void on_Button_cancel2_clicked();
    void on_comboBox_activated(int index);
    void on_Button_wlan1_clicked() { select_group(0); }
    void on_Button_wlan2_clicked() { select_group(1); }
    void on_Button_wlan3_clicked() { select_group(2); }
    void on_Button_wlan4_clicked() { select_group(3); }
    void zel_button_wlan_clicked();

protected:
    void pageRefresh(int code) override;
    void fieldConfirmed(My_lineEdit* field, const QString& text) override;

private:
    void build_led_tab(QWidget* page);
    void build_port_tab(QWidget* page);
    void select_group(int group);
    void set_mode(uint8_t mode);
    void confirm_out1_width(int entry);
    void confirm_out1_height(int entry);
    void show_tab(QPushButton* button, int index);

    uint8_t mode_ = kCopy;
    int group_ = 0;
    int selected_ = 0;

    QPushButton* tabFocus_ = nullptr;      // the two tab buttons
    QPushButton* applyFocus1_ = nullptr;   // Cancel / Apply of the LED tab
    QPushButton* applyFocus2_ = nullptr;   // Cancel / Apply of the port tab (hidden)
    QPushButton* groupFocus_ = nullptr;    // the four port-group buttons

    QPushButton* ledset_;
    QPushButton* lanset_;
    QStackedWidget* stack_;
    QLabel* s1_;
    QLabel* s2_;
    QLabel* widthCaption_;
    QLabel* heightCaption_;
    QLabel* tip_;
    QLabel* outLabel_;
    QLabel* outCaptions_[4];   // out1 width, out1 height, out2 width, out2 height
    QLabel* portCaptions_[4];  // X, Y, W, H
    QComboBox* combo_;
    My_lineEdit* width_;
    My_lineEdit* height_;
    My_lineEdit* out1Width_;
    My_lineEdit* out1Height_;
    My_lineEdit* out2Width_;
    My_lineEdit* out2Height_;
    My_lineEdit* portFields_[4];   // X, Y, W, H
    QPushButton* cancel1_;
    QPushButton* apply1_;
    QPushButton* cancel2_;
    QPushButton* apply2_;
    QPushButton* groups_[4];
    QWidget* portPage_;
    sys::PortGrid grid_;
};

extern OutputSet* g_outputset;
