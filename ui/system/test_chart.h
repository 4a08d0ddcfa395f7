// The test pattern page (page 16): eight full-screen patterns of the video engine, one framed at a
// time; touching one puts it on the screen, "Close" takes it off. Leaving the page keeps it on.
#pragma once

#include <cstdint>

#include "ui/shell/page_base.h"

class QFrame;
class QLabel;
class QPushButton;

class test_chart : public shell::PageBase {
    Q_OBJECT

public:
    static constexpr int kFocus = 16;
    static constexpr int kPatterns = 8;
    static constexpr uint8_t kNone = 102;   // no pattern framed

    explicit test_chart(QWidget* parent = nullptr);
    ~test_chart() override;

    void syncUpdate();
    void language_changed() override;
    uint8_t currentIndex() const { return current_; }

public slots:
    void zel_image_button_clicked();
    void on_Button_closetest_clicked();

protected:
    void pageRefresh(int code) override;

private:
    void testimage_button_init();
    void para_init();
    void unframe();
    static void commit_pattern(uint8_t value);

    uint8_t current_ = kNone;
    QFrame* frame_;
    QLabel* images_[kPatterns];
    QLabel* captions_[kPatterns];
    QPushButton* close_;
};

extern test_chart* g_test_chart;
