#include "ui/shell/QRoundProgressBar.h"

#include <QDialog>
#include <QEvent>
#include <QPainter>

QRoundProgressBar* g_qround_bar = nullptr;

void QRoundProgressBar::create_qround_bar(QDialog* parent)
{
    if (g_qround_bar || !parent)
        return;
    g_qround_bar = new QRoundProgressBar(parent);
    g_qround_bar->show();
    g_qround_bar->raise();
}

QRoundProgressBar::QRoundProgressBar(QWidget* parent) : QWidget(parent)
{
    setObjectName("qround_bar");
    setAttribute(Qt::WA_DeleteOnClose);
    setGeometry(kX, kY, kSize, kSize);
    // A page that closes or hides under the ring takes the ring with it.
    if (parent)
        parent->installEventFilter(this);
}

QRoundProgressBar::~QRoundProgressBar()
{
    if (g_qround_bar == this)
        g_qround_bar = nullptr;
}

void QRoundProgressBar::para_sync(int value)
{
    value_ = qBound(0, value, 100);
    update();
    if (value > 99)
        finish();
}

void QRoundProgressBar::finish()
{
    if (g_qround_bar == this)
        g_qround_bar = nullptr;
    if (parentWidget())
        parentWidget()->removeEventFilter(this);
    close();  // deletes the ring once control is back in the event loop
}

bool QRoundProgressBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && (event->type() == QEvent::Close || event->type() == QEvent::Hide))
        finish();
    return QWidget::eventFilter(watched, event);
}

void QRoundProgressBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF outer(4, 4, kSize - 8, kSize - 8);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x21, 0x24, 0x35, 235));
    p.drawEllipse(outer);

    const qreal ring = 16;
    const QRectF arc = outer.adjusted(ring, ring, -ring, -ring);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x3A, 0x3F, 0x5C), ring, Qt::SolidLine, Qt::FlatCap));
    p.drawEllipse(arc);
    p.setPen(QPen(QColor(0x47, 0x77, 0xFF), ring, Qt::SolidLine, Qt::RoundCap));
    // Clockwise from twelve o'clock.
    p.drawArc(arc, 90 * 16, -static_cast<int>(value_ * 360 * 16 / 100));

    QFont f = font();
    f.setPixelSize(44);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(rect(), Qt::AlignCenter, QStringLiteral("%1%").arg(value_));
}
