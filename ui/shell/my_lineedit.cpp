#include "ui/shell/my_lineedit.h"

#include <QMouseEvent>

QPointer<QLineEdit> g_lineedit;

My_lineEdit::My_lineEdit(QWidget* parent) : QLineEdit(parent)
{
    // Typing happens on the keypad, never in the field itself.
    setReadOnly(true);
    setFocusPolicy(Qt::NoFocus);
}

void My_lineEdit::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    if (isEnabled())
        emit send_show(text());
}
