// The shared number keypad g_numberkeyboard (380 x 480, on the right of the screen). A page calls
// label_show(title, text) and runs it modally; OK hands the typed text to every page through
// sendKeyBoardUIDataToLineEdit and hides the keypad.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

class NumberKeyboard : public QDialog {
    Q_OBJECT

public:
    explicit NumberKeyboard(QWidget* parent = nullptr);

    // Title (18-pixel font for a 4-character title, else 25), clears the typed text, shows
    // `text` in the display field and refreshes the texts for the language.
    void label_show(QString title, QString text);
    void language_changed();

    // The longest text the keypad takes.
    static constexpr int kMaxLength = 20;

signals:
    void sendKeyBoardUIDataToLineEdit(QString text);

private slots:
    void zel_button_key_clicked();
    void on_Button_delete_clicked();
    void on_Button_clear_clicked();
    void on_Button_ok_clicked();
    void on_Button_cancel_clicked();

private:
    void showTyped();

    QLabel* label_title_;
    QLineEdit* lineEdit_show_;
    QPushButton* ok_;
    QPushButton* cancel_;
    QPushButton* clear_;
};

extern NumberKeyboard* g_numberkeyboard;
