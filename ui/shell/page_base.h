// What every setup page repeats, written once: the 800 x 480 frameless dialog with its header, its
// page number in g_page_focus, its page pointer, the back slot (also for any other way of closing),
// its entry in the change dispatcher, the language check before each refresh, and the fields that
// open the shared number keypad.
//
// A page derives from PageBase, builds its widgets, calls keepPointer(g_thepage), binds its
// My_lineEdit fields with bindField and calls language_changed() at the end of its constructor. It
// implements language_changed() (redraw the texts) and pageRefresh(code) (redraw from the image,
// called by the dispatcher after the language check), and fieldConfirmed(field, text) when it has
// fields. A keypad confirmation reaches only the page that opened the keypad, and only for the field
// it opened it for; pages beneath never see it, whatever their fields are called.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

#include <functional>

#include "ui/shell/page_nav.h"
#include "ui/shell/shell_text.h"

class QLabel;

#include "ui/shell/my_lineedit.h"

namespace shell {

// Page numbers of the home page and the settings menu, the pages most setup pages return to.
constexpr int kHomeFocus = 1;
constexpr int kSettingsFocus = 5;

class PageBase : public QDialog {
    Q_OBJECT

public:
    // focus: the page's number; beneathFocus: the number of the page its back slot returns to
    // (kHomeFocus, kSettingsFocus or another open PageBase).
    PageBase(const QString& objectName, int focus, int beneathFocus, QWidget* parent = nullptr);
    ~PageBase() override;

    int focus() const { return focus_; }
    int beneathFocus() const { return beneathFocus_; }
    QLabel* titleLabel() const { return title_; }

    // Redraws every text of the page for the shown language.
    virtual void language_changed() = 0;

    // The open page with that page number, or null.
    static PageBase* openAt(int focus);

public slots:
    // Closes the page and returns to the page beneath. A page that refuses its back at times
    // overrides it and calls this one when it goes.
    virtual void on_Button_back_clicked();
    // A page closed any other way goes back the same way.
    void reject() override;
    // The keypad's confirmation: acts only when this page opened the keypad for the field that is
    // still being edited.
    void confirmString(QString text);

protected:
    // Redraws from the parameter image after a change report; the language check has been done.
    virtual void pageRefresh(int code) = 0;
    // A confirmed keypad text for one of this page's fields.
    virtual void fieldConfirmed(My_lineEdit* field, const QString& text);
    // Refreshes the page beneath after this one closed; the default serves the home page, the
    // settings menu and any open PageBase.
    virtual void returnBeneath();

    // The page's pointer (g_...), cleared when the page goes back or is destroyed.
    template <class Page>
    void keepPointer(Page*& pointer)
    {
        clearPointer_ = [this, &pointer] {
            if (pointer == this)
                pointer = nullptr;
        };
    }

    // Touching the field opens the keypad with the title and the field's text.
    void bindField(My_lineEdit* field, const LangText& title);
    void bindField(My_lineEdit* field, std::function<QString()> title);
    // Runs the keypad for a field of this page (what touching a bound field does).
    void openKeypad(My_lineEdit* field, const QString& title);

    // The index a card or choice button carries as its objectName ("0", "1", ...), when the slot
    // was reached from such a button with an index below `count`; else -1.
    int senderIndex(int count) const;

    // Runs the page's refresh as the dispatcher does: language check first.
    void refreshNow(int code);

private:
    void leave();

    const int focus_;
    const int beneathFocus_;
    bool closed_ = false;
    QLabel* title_ = nullptr;
    RefreshEntry refresh_;
    std::function<void()> clearPointer_;
    QPointer<My_lineEdit> field_;
};

}  // namespace shell
