// Small builders for the shell's pages: the header with its back button, titled panels, cards.
#pragma once

#include <QString>

class QAbstractButton;
class QDialog;
class QFrame;
class QLabel;
class QPushButton;
class QSlider;
class QToolButton;
class QWidget;

namespace shell {

// The page header: back button (":/png/back.png") at the left and the title across the top.
QPushButton* makeBackButton(QWidget* page);
QLabel* makeTitle(QWidget* page, const QString& objectName);
// A dark rounded panel at a place of the page.
QFrame* makePanel(QWidget* parent, const QString& objectName, int x, int y, int w, int h);
QLabel* makeLabel(QWidget* parent, const QString& objectName, int x, int y, int w, int h, const char* style,
                  Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter);
// A flat push button without keyboard focus that draws nothing of its own (cards, icon buttons).
QPushButton* makeFlatButton(QWidget* parent, const QString& objectName, int x, int y, int w, int h);
// Widens a one-line label until its text fits with `padding` pixels each side (badges whose text
// is longer in some languages), keeping its right edge or its left edge. Never narrows it.
void fitToText(QLabel* label, int padding, bool keepRightEdge);
// Sets a button's text; a text wider than the button is broken at the space nearest its middle.
void setWrappedText(QAbstractButton* button, const QString& text);
// Makes a touch on the slider's groove put the handle there and drag it, so that letting go
// reports the value (sliderReleased) like any drag; by default a touch on the groove moves the
// value by a page without a release, and the value shown is then never taken.
void setTouchSlider(QSlider* slider);
// A large card with an icon above its caption.
QToolButton* makeTile(QWidget* parent, const QString& objectName, const QString& icon, int x, int y, int w, int h);

// Takes a widget that is being rebuilt out of its page at once (hidden, no longer a child), and
// deletes it once control is back in the event loop: the button being clicked may be one of its
// children. The pointer is cleared.
void retireWidget(QWidget* widget);
template <class W>
void retire(W*& widget)
{
    retireWidget(widget);
    widget = nullptr;
}

// Button rows that show one selected button: the tab style (kSelected / kUnselected), and the
// action pair's style (kActionSelected / kActionOther).
void markSelected(QAbstractButton* button, bool selected);
void markAction(QAbstractButton* button, bool selected);

}  // namespace shell
