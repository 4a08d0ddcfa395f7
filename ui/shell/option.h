// The settings menu (page 5): opens the input crop, output, test pattern, advanced settings,
// communication, smart-mapping, window layout (behind its access code) and image quality pages.
#pragma once

#include <QDialog>
#include <QString>

#include "ui/shell/page_nav.h"

class QLabel;
class QPushButton;
class QToolButton;
class My_lineEdit;

class Option : public QDialog {
    Q_OBJECT

public:
    explicit Option(QWidget* parent = nullptr);
    ~Option() override;

    void syncUpdate();
    void language_changed();

public slots:
    void on_Button_back_clicked();
    // A page closed any other way goes back the same way.
    void reject() override;
    void on_input_cut_clicked();
    void on_output_set_clicked();
    void on_test_chart_clicked();
    void on_AdvanceButton_clicked();
    void on_link_set_clicked();
    void on_smart_mapping_clicked();
    void on_image_layout_clicked();
    void on_image_quality_clicked();

    void show_numberkeyboard_ui(QString text);
    void confirmString(QString text);

private:
    void open_image_layout();

    shell::RefreshEntry refresh_;

    QLabel* title_;
    QLabel* passwordWrong_;
    My_lineEdit* password_;
    QToolButton* buttons_[8];
};

extern Option* g_option;
