#include "ui/shell/shell_widgets.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include "ui/shell/shell_style.h"

namespace shell {

QPushButton* makeBackButton(QWidget* page)
{
    auto* back = new QPushButton(page);
    back->setObjectName("Button_back");
    back->setGeometry(12, 10, 64, 52);
    back->setIcon(QIcon(":/png/back.png"));
    back->setIconSize(QSize(32, 32));
    back->setFocusPolicy(Qt::NoFocus);
    back->setFlat(true);
    back->setStyleSheet(style::kFlatButton);
    return back;
}

QLabel* makeTitle(QWidget* page, const QString& objectName)
{
    auto* title = makeLabel(page, objectName, 90, 10, 620, 52, style::kTitle, Qt::AlignCenter);
    auto* rule = new QFrame(page);
    rule->setObjectName("line_title");
    rule->setGeometry(20, 70, 760, 1);
    rule->setStyleSheet("background-color:#3A3F5C;");
    return title;
}

QFrame* makePanel(QWidget* parent, const QString& objectName, int x, int y, int w, int h)
{
    auto* panel = new QFrame(parent);
    panel->setObjectName(objectName);
    panel->setGeometry(x, y, w, h);
    panel->setStyleSheet(QStringLiteral("QFrame#%1{%2}").arg(objectName, style::kPanel));
    return panel;
}

QLabel* makeLabel(QWidget* parent, const QString& objectName, int x, int y, int w, int h, const char* style,
                  Qt::Alignment align)
{
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setGeometry(x, y, w, h);
    label->setStyleSheet(QString::fromLatin1(style));
    label->setAlignment(align);
    return label;
}

QToolButton* makeTile(QWidget* parent, const QString& objectName, const QString& icon, int x, int y, int w, int h)
{
    auto* tile = new QToolButton(parent);
    tile->setObjectName(objectName);
    tile->setGeometry(x, y, w, h);
    tile->setFocusPolicy(Qt::NoFocus);
    tile->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    if (!icon.isEmpty()) {
        tile->setIcon(QIcon(icon));
        tile->setIconSize(QSize(72, 72));
    }
    tile->setStyleSheet(
        "QToolButton{background-color:#212435;color:#FFFFFF;border:1px solid #3A3F5C;border-radius:14px;"
        "font:bold 21px;padding-top:18px;padding-bottom:14px;}"
        "QToolButton:pressed{background-color:#4777FF;border-color:#4777FF;}"
        "QToolButton:disabled{color:#6A6E80;}");
    return tile;
}

void markSelected(QAbstractButton* button, bool selected)
{
    if (button)
        button->setStyleSheet(QString::fromLatin1(selected ? style::kSelected : style::kUnselected));
}

void markAction(QAbstractButton* button, bool selected)
{
    if (button)
        button->setStyleSheet(QString::fromLatin1(selected ? style::kActionSelected : style::kActionOther));
}

}  // namespace shell
