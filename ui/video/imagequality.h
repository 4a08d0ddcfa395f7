// The image quality page (page 11): brightness, sharpness, contrast and saturation on the first
// tab, the colour temperature preset and the red, green and blue gains on the second, and the
// reset to the factory values.
#pragma once

#include "ui/shell/page_base.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QStackedWidget;

class ImageQuality : public shell::PageBase {
    Q_OBJECT

public:
    static constexpr int kFocus = 11;
    static constexpr int kRows = 7;

    explicit ImageQuality(QWidget* parent = nullptr);
    ~ImageQuality() override;

    void para_init();
    void language_changed() override;
    void combox_language_change();
    void syncUpdate();

public slots:
    void on_Button_quality_clicked() { show_tab(0); }
    void on_Button_temperature_clicked() { show_tab(1); }
    void on_comboBox_currentIndexChanged(int index);
    void on_Button_reset_clicked();

protected:
    void pageRefresh(int) override { syncUpdate(); }

private:
    void show_tab(int tab);
    void slider_released(int row);
    void step(int row, int delta);
    void commit_row(int row, int value);

    QPushButton* tabs_[2];
    QPushButton* tabSelected_;
    QStackedWidget* stack_;
    QLabel* names_[kRows];
    QSlider* sliders_[kRows];
    QLabel* values_[kRows];
    QPushButton* reset_;
    QLabel* typeLabel_;
    QComboBox* preset_;
};

extern ImageQuality* g_imagequality;
