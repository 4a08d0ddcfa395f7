// A line edit that opens the shared number keypad: touching it (while it is enabled) emits
// send_show with its text, and the page runs the keypad for it.
#pragma once

#include <QLineEdit>
#include <QPointer>

class My_lineEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit My_lineEdit(QWidget* parent = nullptr);

signals:
    void send_show(QString text);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

// The field being edited on the keypad. A guarded pointer: it turns null when the field's page
// has gone, so a late confirmation never writes into a deleted widget.
extern QPointer<QLineEdit> g_lineedit;
