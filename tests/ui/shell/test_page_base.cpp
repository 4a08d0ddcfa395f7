// The page base: page pointer and number, back to the page beneath, the dispatcher's refresh with
// its language check, and keypad confirmations that reach only the page and field that asked.
#include <QLabel>
#include <QTimer>

#include "shell_fixture.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/page_base.h"

namespace {

constexpr LangText kFieldTitle = {"宽", "Width", "Ширина", "Rộng", "寬"};

class ProbePage;
ProbePage* g_lower = nullptr;
ProbePage* g_upper = nullptr;

class ProbePage : public shell::PageBase {
public:
    ProbePage(int focus, int beneath) : PageBase("ProbePage", focus, beneath)
    {
        // Both pages name their field alike: confirmations must still reach only the opener.
        field = new My_lineEdit(this);
        field->setObjectName("lineEdit_w");
        bindField(field, kFieldTitle);
        language_changed();
    }
    void language_changed() override { ++languages; }
    template <class P>
    void keep(P*& pointer) { keepPointer(pointer); }

    My_lineEdit* field;
    int languages = 0;
    int refreshes = 0;
    int lastCode = -1;
    QStringList confirmed;

protected:
    void pageRefresh(int code) override
    {
        ++refreshes;
        lastCode = code;
    }
    void fieldConfirmed(My_lineEdit* f, const QString& text) override
    {
        f->setText(text);
        confirmed << text;
    }
};

class PageBaseTest : public ShellTest {
protected:
    ProbePage* open(ProbePage*& pointer, int focus, int beneath)
    {
        pointer = new ProbePage(focus, beneath);
        pointer->keep(pointer);
        g_page_focus = focus;
        shell::runModal(pointer);
        return pointer;
    }
};

}  // namespace

TEST_F(PageBaseTest, DispatcherRefreshesThePageInFrontAfterItsLanguageCheck)
{
    ProbePage* page = open(g_lower, 3, 1);
    EXPECT_EQ(shell::PageBase::openAt(3), page);
    EXPECT_EQ(page->languages, 1);

    model->test_signal(7);
    EXPECT_EQ(page->refreshes, 1);
    EXPECT_EQ(page->lastCode, 7);
    EXPECT_EQ(page->languages, 1) << "the language word did not change";

    ram_set_u16(model->ram_para, ramaddr::kLanguage, 0);
    model->test_signal(1);
    EXPECT_EQ(page->languages, 2);
    EXPECT_EQ(g_language.load(), 0);
    EXPECT_EQ(page->titleLabel()->objectName(), "label_title");
}

TEST_F(PageBaseTest, BackClearsPointerAndEntryAndReturnsToThePageBeneath)
{
    ProbePage* lower = open(g_lower, 3, 1);
    ProbePage* upper = open(g_upper, 4, 3);
    const int lowerLanguages = lower->languages;

    click(upper, "Button_back");
    EXPECT_EQ(g_upper, nullptr);
    EXPECT_EQ(shell::PageBase::openAt(4), nullptr);
    EXPECT_EQ(g_page_focus.load(), 3);
    EXPECT_EQ(lower->languages, lowerLanguages + 1) << "the page beneath redraws";
    EXPECT_EQ(lower->refreshes, 1);

    // Escape (reject) goes back the same way, and a second back does nothing.
    lower->reject();
    lower->on_Button_back_clicked();
    EXPECT_EQ(g_lower, nullptr);
    EXPECT_EQ(g_page_focus.load(), 1);
    flushDeletes();

    // Nothing left registered at the page numbers.
    g_page_focus = 3;
    model->test_signal(1);
    g_page_focus = 1;
}

TEST_F(PageBaseTest, KeypadConfirmationReachesOnlyTheOpenerAndItsField)
{
    ProbePage* lower = open(g_lower, 3, 1);
    lower->field->setText("12");
    QTest::mouseClick(lower->field, Qt::LeftButton);
    ASSERT_TRUE(g_numberkeyboard->isVisible());
    EXPECT_EQ(g_numberkeyboard->findChild<QLabel*>("label_title")->text(), "Width");
    g_numberkeyboard->hide();   // cancelled

    ProbePage* upper = open(g_upper, 4, 3);
    QTest::mouseClick(upper->field, Qt::LeftButton);
    keyIn("42");
    EXPECT_EQ(upper->confirmed, QStringList{"42"});
    EXPECT_TRUE(lower->confirmed.isEmpty()) << "the page beneath keeps its stale field";
    EXPECT_EQ(lower->field->text(), "12");
    EXPECT_EQ(g_lineedit, nullptr);

    // A second OK without a field opened does nothing anywhere.
    g_numberkeyboard->show();
    click(g_numberkeyboard, "Button_ok");
    EXPECT_EQ(upper->confirmed.size(), 1);

    // A disabled field opens no keypad.
    upper->field->setEnabled(false);
    QTest::mouseClick(upper->field, Qt::LeftButton);
    EXPECT_FALSE(g_numberkeyboard->isVisible());
}

TEST_F(PageBaseTest, InactivityBacksOutThroughEveryOpenPage)
{
    g_back_to_mainwindow_time = 10;
    g_auto_lock_time = 1000;
    lcd_touch::pInstance();
    open(g_lower, 3, 1);
    open(g_upper, 4, 3);
    tick(11);
    EXPECT_EQ(g_upper, nullptr);
    EXPECT_EQ(g_lower, nullptr);
    EXPECT_EQ(g_page_focus.load(), 1);
}

// The keypad is one dialog opened again and again; run for real (no test runner), it is raised
// each time, or it would come up beneath the pages made since its last use and block them.
TEST(RunModal, RaisesADialogShownBeforeAboveThePagesMadeSince)
{
    struct RaiseProbe : QObject {
        int raised = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            raised += e->type() == QEvent::ZOrderChange;
            return false;
        }
    } probe;
    shell::setModalRunner(nullptr);
    QDialog keypad;
    keypad.show();
    keypad.hide();
    keypad.installEventFilter(&probe);
    int raisedWhileOpen = -1;
    QTimer::singleShot(0, &keypad, [&] {
        raisedWhileOpen = probe.raised;
        keypad.reject();
    });
    shell::runModal(&keypad);
    EXPECT_GE(raisedWhileOpen, 1);
}
