// Builders and small steps shared by the screen and system pages: buttons, fields, labels, marks
// and pictures that remember which image they show, and the restyling of a row of buttons that
// shows one selected button.
#pragma once

#include <QSize>
#include <QString>

class QAbstractButton;
class QFrame;
class QLabel;
class QPushButton;
class QWidget;
class My_lineEdit;

namespace sys {

// The look of the screen and system pages under their own widget styles: plain labels white on
// the page, fields and buttons outlined.
extern const char* const kPageSheet;
// A transparent area of a page whose widgets take kPageSheet (set before they are made: a sheet
// replaced later is not seen by children that were already styled).
QWidget* makeArea(QWidget* parent, const QString& objectName, int x, int y, int w, int h);

// Images of the marks and toggles.
constexpr const char* kChecked = ":/png/checked.png";
constexpr const char* kUnchecked = ":/png/unchecked.png";
constexpr const char* kOn = ":/png/button_on.png";
constexpr const char* kOff = ":/png/button_off.png";
constexpr QSize kMarkSize(32, 32);
constexpr QSize kToggleSize(70, 32);

QPushButton* makeButton(QWidget* parent, const QString& objectName, int x, int y, int w, int h);
My_lineEdit* makeField(QWidget* parent, const QString& objectName, int x, int y, int w, int h);
QLabel* makeText(QWidget* parent, const QString& objectName, int x, int y, int w, int h,
                 Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter);

// Sets a button's icon and keeps the resource name in its "image" property.
void setIcon(QAbstractButton* button, const QString& resource, QSize size = kMarkSize);
// Shows a picture scaled into the label and keeps the resource name in its "image" property.
void setPicture(QLabel* label, const QString& resource);
// The resource a button or label was last given (empty when none).
QString imageOf(const QWidget* widget);

// Takes a frame that is being rebuilt out of its page at once (hidden, no longer a child), and
// deletes it once control is back in the event loop: the button being clicked may be one of its
// children.
void retire(QFrame*& frame);

// A row that shows one selected button: `current` gets `other`, `next` becomes current with
// `selected`.
void moveSelection(QPushButton*& current, QPushButton* next, const char* selected, const char* other);

}  // namespace sys
