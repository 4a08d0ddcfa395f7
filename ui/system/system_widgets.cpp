#include "ui/system/system_widgets.h"

#include <QAbstractButton>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QStackedWidget>
#include <QStringList>
#include <QVariant>

#include "ui/shell/my_lineedit.h"
#include "ui/shell/shell_widgets.h"

namespace sys {

namespace {
constexpr const char* kImageProperty = "image";
}

const char* const kPageSheet =
    "QLabel{color:#FFFFFF;background:transparent;}"
    "QLineEdit{background-color:#212435;color:#FFFFFF;border:1px solid #FFFFFF;border-radius:4px;"
    "padding-left:6px;font:20px;}"
    "QLineEdit:disabled{color:#A8ACC0;border-color:#3A3F5C;}"
    "QPushButton{background-color:#10101C;color:#FFFFFF;border:1px solid #3A3F5C;}"
    "QComboBox{background-color:#212435;color:#FFFFFF;border:1px solid #FFFFFF;padding-left:8px;}"
    "QComboBox QAbstractItemView{background-color:#212435;color:#FFFFFF;selection-background-color:#4777FF;}";

QWidget* makeArea(QWidget* parent, const QString& objectName, int x, int y, int w, int h)
{
    auto* area = new QWidget(parent);
    area->setObjectName(objectName);
    area->setGeometry(x, y, w, h);
    area->setStyleSheet(kPageSheet);
    return area;
}

QPushButton* makeButton(QWidget* parent, const QString& objectName, int x, int y, int w, int h)
{
    auto* b = new QPushButton(parent);
    b->setObjectName(objectName);
    b->setGeometry(x, y, w, h);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

My_lineEdit* makeField(QWidget* parent, const QString& objectName, int x, int y, int w, int h)
{
    auto* f = new My_lineEdit(parent);
    f->setObjectName(objectName);
    f->setGeometry(x, y, w, h);
    f->setAlignment(Qt::AlignCenter);
    return f;
}

QLabel* makeText(QWidget* parent, const QString& objectName, int x, int y, int w, int h, Qt::Alignment align)
{
    auto* l = new QLabel(parent);
    l->setObjectName(objectName);
    l->setGeometry(x, y, w, h);
    l->setAlignment(align);
    return l;
}

void setIcon(QAbstractButton* button, const QString& resource, QSize size)
{
    button->setIcon(QIcon(resource));
    button->setIconSize(size);
    button->setProperty(kImageProperty, resource);
}

void setPicture(QLabel* label, const QString& resource)
{
    label->setPixmap(QPixmap(resource));
    label->setScaledContents(true);
    label->setProperty(kImageProperty, resource);
}

QString imageOf(const QWidget* widget)
{
    return widget ? widget->property(kImageProperty).toString() : QString();
}

void moveSelection(QPushButton*& current, QPushButton* next, const char* selected, const char* other)
{
    if (current && current != next)
        current->setStyleSheet(QString::fromLatin1(other));
    current = next;
    if (next)
        next->setStyleSheet(QString::fromLatin1(selected));
}

void setTexts(QWidget* page, const NamedText* texts, std::size_t count)
{
    for (std::size_t k = 0; k < count; ++k) {
        const QString text = langText(texts[k].text);
        if (auto* b = page->findChild<QAbstractButton*>(texts[k].objectName))
            b->setText(text);
        else if (auto* l = page->findChild<QLabel*>(texts[k].objectName))
            l->setText(text);
    }
}

int fieldNumber(const QLineEdit* field)
{
    bool ok = false;
    const int v = field->text().toInt(&ok);
    return ok ? v : 0;
}

QStackedWidget* makeFramedStack(QWidget* page, const QStringList& pageNames)
{
    auto* border = new QFrame(page);
    border->setObjectName("frame");
    border->setGeometry(170, 68, 610, 400);
    border->setStyleSheet("#frame{border:1px solid rgb(133, 129, 153);}");
    auto* stack = new QStackedWidget(page);
    stack->setObjectName("stackedWidget");
    stack->setGeometry(171, 69, 608, 398);
    stack->setStyleSheet(kPageSheet);
    for (const QString& name : pageNames) {
        auto* p = new QWidget(stack);
        p->setObjectName(name);
        stack->addWidget(p);
    }
    return stack;
}

// ---- port grid ----------------------------------------------------------------------------------

namespace {
constexpr LangText kPortGroup = {"网口%1~%2", "LED%1~%2", "LED%1~%2", "LED%1~%2", "網口%1~%2"};
constexpr LangText kPortCell = {"网口LED%1", "LED%1", "LED%1", "LED%1", "網口LED%1"};
constexpr const char* kCellSelected = "background-color: #212435;border:1px solid #00D65B;";
constexpr const char* kCellOther = "background-color: #212435;border:1px solid #FFFFFF;";
}  // namespace

QString portGroupText(int group)
{
    return langText(kPortGroup).arg(kGroupPorts * group + 1).arg(kGroupPorts * (group + 1));
}

QString portCellText(int number) { return langText(kPortCell).arg(number); }

void markPortCell(QFrame* cell, bool selected)
{
    if (cell)
        cell->setStyleSheet(selected ? kCellSelected : kCellOther);
}

PortGrid makePortGrid(QWidget* parent, int y, int group, int selected)
{
    PortGrid grid;
    grid.frame = new QFrame(parent);
    grid.frame->setObjectName("frame_port");
    grid.frame->setGeometry(1, y, 608, 165);
    for (int i = 0; i < kGroupPorts; ++i) {
        const int cx = 150 * (i % 4);
        const int cy = 75 * (i / 4);
        auto* cell = new QFrame(grid.frame);
        cell->setObjectName(QStringLiteral("cell_%1").arg(i));
        cell->setGeometry(cx + 9, cy + 14, 130, 60);
        markPortCell(cell, i == selected);
        grid.cells[i] = cell;
        setPicture(makeText(grid.frame, QStringLiteral("icon_%1").arg(i), cx + 59, cy + 17, 32, 28), ":/png/offline.png");
        QLabel* caption = makeText(grid.frame, QStringLiteral("text_%1").arg(i), cx + 29, cy + 45, 91, 28, Qt::AlignCenter);
        QFont f = caption->font();
        f.setPointSize(12);
        caption->setFont(f);
        caption->setStyleSheet("background-color: #212435;color: #FFFFFF");
        caption->setText(portCellText(kGroupPorts * group + i + 1));
        grid.buttons[i] = shell::makeFlatButton(grid.frame, QString::number(i), cx + 10, cy + 15, 128, 58);
    }
    grid.frame->show();
    return grid;
}

// ---- lists --------------------------------------------------------------------------------------

QFrame* makeListFrame(QWidget* page)
{
    auto* list = new QFrame(page);
    list->setObjectName("frame_file");
    list->setGeometry(10, 90, 580, 240);
    list->setStyleSheet("#frame_file{background-color: rgb(33, 36, 53);border:1px solid #FFFFFF;}");
    return list;
}

QLabel* makeListRow(QFrame* list, const QString& objectName, int row, int width)
{
    QLabel* label = makeText(list, objectName, 5, 5 + 45 * row, width, 40);
    QFont f = label->font();
    f.setPointSize(15);
    label->setFont(f);
    return label;
}

QPushButton* makeListPager(QFrame* list, bool next)
{
    QPushButton* b = makeButton(list, next ? "Button_next" : "Button_previous", 530, next ? 185 : 5, 50, 50);
    b->setStyleSheet("background-color: rgb(33, 36, 53);");
    setIcon(b, next ? ":/png/next.png" : ":/png/previous.png", QSize(50, 50));
    return b;
}

}  // namespace sys
