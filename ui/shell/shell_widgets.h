// Small builders for the shell's pages: the header with its back button, titled panels, cards.
#pragma once

#include <QString>

class QAbstractButton;
class QDialog;
class QFrame;
class QLabel;
class QPushButton;
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
// A large card with an icon above its caption.
QToolButton* makeTile(QWidget* parent, const QString& objectName, const QString& icon, int x, int y, int w, int h);

// Button rows that show one selected button: the tab style (kSelected / kUnselected), and the
// action pair's style (kActionSelected / kActionOther).
void markSelected(QAbstractButton* button, bool selected);
void markAction(QAbstractButton* button, bool selected);

}  // namespace shell
