#include "ui/system/system_widgets.h"

#include <QAbstractButton>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVariant>

#include "ui/shell/my_lineedit.h"

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

void retire(QFrame*& frame)
{
    if (!frame)
        return;
    frame->hide();
    frame->setParent(nullptr);
    frame->deleteLater();
    frame = nullptr;
}

void moveSelection(QPushButton*& current, QPushButton* next, const char* selected, const char* other)
{
    if (current && current != next)
        current->setStyleSheet(QString::fromLatin1(other));
    current = next;
    if (next)
        next->setStyleSheet(QString::fromLatin1(selected));
}

}  // namespace sys
