// The input crop page (page 7): six input tabs with their number of sources, the paged cards of
// the chosen input (the input itself, then its crops) and the form that adds, edits and deletes a
// crop.
#pragma once

#include <QFont>
#include <QString>

#include <cstdint>

#include "ui/shell/page_base.h"
#include "ui/video/video_common.h"

class QFrame;
class QLabel;
class QPushButton;

class InputCut : public shell::PageBase {
    Q_OBJECT

public:
    static constexpr int kFocus = 7;
    static constexpr int kCardsPerPage = 6;

    explicit InputCut(QWidget* parent = nullptr);
    ~InputCut() override;

    void syncUpdate(int code);
    void language_changed() override;
    void source_init();
    void crop_source_num_update();
    void para_changed_over();

    int currentInput() const { return input_; }
    int sourcePage() const { return page_; }
    int lastPage() const { return lastPage_; }
    int selectedOrdinal() const { return selected_; }
    bool adding() const { return adding_ != 0; }

public slots:
    void zel_button_input_clicked();
    void zel_button_source_clicked();
    void zel_button_add_clicked();
    void zel_Button_previous_clicked();
    void zel_Button_next_clicked();
    void zel_button_cancel_clicked();
    void zel_button_ok_clicked();
    void zel_button_delete_clicked();

protected:
    void pageRefresh(int code) override { syncUpdate(code); }
    void returnBeneath() override;
    void fieldConfirmed(My_lineEdit* field, const QString& text) override;

private:
    void input_init();
    void show_form(bool withDelete);
    void set_source_caption();
    void after_table_change();
    QString keypad_title(int field) const;

    uint8_t input_ = 2;
    QString inputName_ = "HDMI1";
    uint8_t page_ = 0;
    uint8_t lastPage_ = 0;
    uint8_t selected_ = 0;
    uint8_t adding_ = 0;
    QString suffix_;
    QFont cardFont_;

    video::InputTabs tabs_;
    QFrame* container_ = nullptr;
    QPushButton* add_ = nullptr;
    QFrame* form_;
    QLabel* cropLabel_;
    QLabel* source_;
    QLabel* fieldLabels_[4];
    My_lineEdit* fields_[4];
    video::EditPanel edit_;
};

extern InputCut* g_inputcut;
