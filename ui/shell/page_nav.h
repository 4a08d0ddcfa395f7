// Running pages: the modal hook, the openers' common steps and a page's entry in the dispatcher.
#pragma once

#include <functional>

#include "core/global.h"
#include "core/syncupdate.h"

class QDialog;

namespace shell {

// Runs a page or the keypad modally (QDialog::exec). Tests install a runner that shows the
// dialog and returns at once, so a page can be driven with clicks.
int runModal(QDialog* dialog);
using ModalRunner = std::function<int(QDialog*)>;
void setModalRunner(ModalRunner runner);

// The front panel's look: its images, and a font that also draws Chinese text.
void installPanelFont();

// A page's refresh in the change dispatcher's table: set while the page is open, dropped by
// release() in its back slot, and in any case when the page is destroyed.
class RefreshEntry {
public:
    RefreshEntry() = default;
    ~RefreshEntry() { release(); }
    RefreshEntry(const RefreshEntry&) = delete;
    RefreshEntry& operator=(const RefreshEntry&) = delete;

    void set(int focus, SyncUpdate::PageRefresh refresh);
    void release();

private:
    int focus_ = -1;   // -1: nothing registered
};

// Opens a page the way every opener does: without a parent, kept in its page pointer, with
// g_page_focus set to the page's number, run modally. The page's back slot clears the pointer.
template <class Page>
void openPage(Page*& pointer, int focus)
{
    if (pointer)
        return;
    pointer = new Page(nullptr);
    g_page_focus = focus;
    runModal(pointer);
}

}  // namespace shell
