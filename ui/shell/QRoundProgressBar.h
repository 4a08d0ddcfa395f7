// The progress ring of the long receiving-card jobs: one at a time (g_qround_bar), drawn on the
// page that started the job at (300, 140), 200 x 200. The job's progress reaches para_sync; above
// 99 the ring closes.
#pragma once

#include <QWidget>

class QDialog;

class QRoundProgressBar : public QWidget {
    Q_OBJECT

public:
    static constexpr int kX = 300;
    static constexpr int kY = 140;
    static constexpr int kSize = 200;

    // Creates the ring on `parent` with value 0 and shows it; nothing when one exists.
    static void create_qround_bar(QDialog* parent);

    explicit QRoundProgressBar(QWidget* parent);
    ~QRoundProgressBar() override;

    int value() const { return value_; }

public slots:
    // Shows the value (0-100); above 99 the ring closes and g_qround_bar becomes null.
    void para_sync(int value);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void finish();

    int value_ = 0;
};

// The ring being shown, or null. Pages refuse their back, tab and job buttons while it is set.
// It is cleared whenever the ring goes: finished, closed with its page, or deleted.
extern QRoundProgressBar* g_qround_bar;
