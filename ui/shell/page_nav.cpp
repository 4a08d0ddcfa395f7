#include "ui/shell/page_nav.h"

#include <QApplication>
#include <QDialog>
#include <QFont>

// The images live in a static library; naming their initialiser keeps the linker from dropping it.
static void initPanelImages() { Q_INIT_RESOURCE(t71_resource); }

namespace shell {

namespace {
ModalRunner& runner()
{
    static ModalRunner r;
    return r;
}
}  // namespace

int runModal(QDialog* dialog)
{
    if (!dialog)
        return 0;
    if (runner())
        return runner()(dialog);
    // A dialog shown before (the keypad) keeps its old place among the windows; without a window
    // manager to raise it, it would open beneath the pages made since and block them unseen.
    dialog->raise();
    return dialog->exec();
}

void setModalRunner(ModalRunner r) { runner() = std::move(r); }

void RefreshEntry::set(int focus, SyncUpdate::PageRefresh refresh)
{
    release();
    if (SyncUpdate::set_page_refresh(focus, std::move(refresh)))
        focus_ = focus;
}

void RefreshEntry::release()
{
    if (focus_ >= 0)
        SyncUpdate::clear_page_refresh(focus_);
    focus_ = -1;
}

void installPanelFont()
{
    initPanelImages();
    QFont font("WenQuanYi Micro Hei");
    font.setPixelSize(18);
    QApplication::setFont(font);
}

}  // namespace shell
