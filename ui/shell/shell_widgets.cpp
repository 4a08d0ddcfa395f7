#include "ui/shell/shell_widgets.h"

#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QProxyStyle>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>

#include <cstdlib>

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

namespace {

class TouchSliderStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returned) const override
    {
        if (hint == SH_Slider_AbsoluteSetButtons)
            return Qt::LeftButton;
        if (hint == SH_Slider_PageSetButtons)
            return Qt::NoButton;
        return QProxyStyle::styleHint(hint, option, widget, returned);
    }
};

}  // namespace

void setTouchSlider(QSlider* slider)
{
    auto* touch = new TouchSliderStyle();   // over the application's style, which it does not own
    touch->setParent(slider);
    slider->setStyle(touch);
}

QPushButton* makeFlatButton(QWidget* parent, const QString& objectName, int x, int y, int w, int h)
{
    auto* b = new QPushButton(parent);
    b->setObjectName(objectName);
    b->setGeometry(x, y, w, h);
    b->setFocusPolicy(Qt::NoFocus);
    b->setFlat(true);
    b->setStyleSheet("background:transparent;border:none;");
    return b;
}

void fitToText(QLabel* label, int padding, bool keepRightEdge)
{
    if (!label)
        return;
    label->ensurePolished();   // the style sheet's font is the one that draws the text
    const int needed = QFontMetrics(label->font()).horizontalAdvance(label->text()) + 2 * padding;
    const QRect r = label->geometry();
    if (needed > r.width())
        label->setGeometry(keepRightEdge ? r.right() + 1 - needed : r.x(), r.y(), needed, r.height());
}

void setWrappedText(QAbstractButton* button, const QString& text)
{
    button->ensurePolished();
    const QFontMetrics fm(button->font());
    constexpr int kMargin = 12;
    if (fm.horizontalAdvance(text) + kMargin <= button->width() || !text.contains(' ')) {
        button->setText(text);
        return;
    }
    const int middle = text.size() / 2;
    int best = -1;
    for (int i = 0; i < text.size(); ++i)
        if (text[i] == ' ' && (best < 0 || std::abs(i - middle) < std::abs(best - middle)))
            best = i;
    button->setText(text.left(best) + '\n' + text.mid(best + 1));
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

void retireWidget(QWidget* widget)
{
    if (!widget)
        return;
    widget->hide();
    widget->setParent(nullptr);
    widget->deleteLater();
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
