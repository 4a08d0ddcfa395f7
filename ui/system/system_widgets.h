// Builders and small steps shared by the screen and system pages: buttons, fields, labels, marks
// and pictures that remember which image they show, the restyling of a row of buttons that shows
// one selected button, the bordered tab stack, the port grid and the file and card lists.
#pragma once

#include <QSize>
#include <QString>

#include <cstddef>

#include "ui/shell/shell_text.h"
#include "ui/shell/shell_widgets.h"

class QAbstractButton;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QStringList;
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

using shell::retire;

// A row that shows one selected button: `current` gets `other`, `next` becomes current with
// `selected`.
void moveSelection(QPushButton*& current, QPushButton* next, const char* selected, const char* other);

// A field's number; 0 for a text that is not one.
int fieldNumber(const QLineEdit* field);

// A text of a page's table: the button or label it belongs to and its five languages.
struct NamedText {
    const char* objectName;
    LangText text;
};
// Gives each named button or label of `page` its text in the shown language.
void setTexts(QWidget* page, const NamedText* texts, std::size_t count);
template <std::size_t N>
void setTexts(QWidget* page, const NamedText (&texts)[N])
{
    setTexts(page, texts, N);
}

// Texts several system pages show.
using shell::kTextApply;
using shell::kTextCancel;
using shell::kTextOk;
inline constexpr LangText kTextNoFile = {"无加载文件!", "No loaded file!", "Нет файлов для загрузки!",
                                         "Không có tập tin để tải!", "無加載文件!"};

// The bordered stack right of a tab column: "frame" at (170, 68), 610 x 400, and inside it
// "stackedWidget" holding one page per name, in order.
QStackedWidget* makeFramedStack(QWidget* page, const QStringList& pageNames);

// ---- the port grid of the output and smart-mapping pages ----------------------------------------

constexpr int kGroupPorts = 8;
// The caption of port group `group` (0-3, "LED1~8" ...) and of port number `number` (from 1).
QString portGroupText(int group);
QString portCellText(int number);

struct PortGrid {
    QFrame* frame = nullptr;
    QFrame* cells[kGroupPorts] = {};
    QPushButton* buttons[kGroupPorts] = {};
};
// The eight cells of port group `group` in a new frame "frame_port" at (1, y), 608 x 165: each a
// cell frame (cell `selected` outlined green, -1 for none), the offline icon, the port's caption
// and a flat button named by the cell index ("0" to "7") over it.
PortGrid makePortGrid(QWidget* parent, int y, int group, int selected);
void markPortCell(QFrame* cell, bool selected);

// ---- the file and card lists --------------------------------------------------------------------

constexpr int kListRows = 5;
// A list row's colours: the selected row blue, the others on the list's background.
constexpr const char* kRowSelected = "background-color:#4777FF;color: #FFFFFF;";
constexpr const char* kRowOther = "background-color: rgb(33, 36, 53);color: #FFFFFF";
// The list area "frame_file" at (10, 90), 580 x 240 of a page.
QFrame* makeListFrame(QWidget* page);
// Row `row` (0-4) of a list: a 15-point label of `width` x 40 at (5, 5 + 45 row).
QLabel* makeListRow(QFrame* list, const QString& objectName, int row, int width);
// The paging button of a list: previous at the top of its right edge, next at the bottom.
QPushButton* makeListPager(QFrame* list, bool next);

}  // namespace sys
