// Draws the interface images under resources/png/ and writes resources/t71_resource.qrc.
//
//   zel_imagegen <resources folder>
//
// The images are committed; run this (target "regen_images") after changing a drawing here.
// Every image is drawn from vector shapes so it stays sharp at the sizes the pages use.
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

const QColor kBlue(0x47, 0x77, 0xFF);
const QColor kGreen(0x00, 0xD6, 0x5B);
const QColor kGrey(0x9A, 0x9C, 0xA8);
const QColor kDark(0x21, 0x24, 0x35);
const QColor kWhite(0xFF, 0xFF, 0xFF);
const QColor kRed(0xF0, 0x44, 0x44);
const QColor kAmber(0xFF, 0xB0, 0x20);

QString g_outDir;
QStringList g_written;

using Draw = std::function<void(QPainter&, int w, int h)>;

void save(const QString& name, int w, int h, const Draw& draw, const char* format = "PNG")
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        draw(p, w, h);
    }
    if (QString(format) == "BMP")
        img = img.convertToFormat(QImage::Format_RGB32);
    const QString path = g_outDir + "/png/" + name;
    if (!img.save(path, format)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
    g_written << name;
}

QFont font(int px, bool bold = true)
{
    QFont f("WenQuanYi Micro Hei");
    f.setPixelSize(px);
    f.setBold(bold);
    return f;
}

void text(QPainter& p, const QRectF& r, const QString& s, int px, const QColor& c, bool bold = true)
{
    p.setFont(font(px, bold));
    p.setPen(c);
    p.drawText(r, Qt::AlignCenter, s);
}

QPen pen(const QColor& c, qreal width)
{
    return QPen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// ---- navigation ------------------------------------------------------------------------------
void roundButtonBase(QPainter& p, int w, int h, const QColor& fill)
{
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawEllipse(QRectF(2, 2, w - 4, h - 4));
}

// The dark round button with a blue ring that the paging and menu buttons share.
void ringedButtonBase(QPainter& p, int w, int h)
{
    roundButtonBase(p, w, h, kDark);
    p.setBrush(Qt::NoBrush);
    p.setPen(pen(kBlue, 2));
    p.drawEllipse(QRectF(3, 3, w - 6, h - 6));
}

void navigation()
{
    save("back.png", 64, 64, [](QPainter& p, int w, int h) {
        p.setPen(pen(kWhite, 6));
        QPainterPath path;
        path.moveTo(30, 14);
        path.lineTo(12, 32);
        path.lineTo(30, 50);
        path.moveTo(12, 32);
        path.lineTo(52, 32);
        p.drawPath(path);
        Q_UNUSED(w);
        Q_UNUSED(h);
    });
    save("previous.png", 64, 64, [](QPainter& p, int w, int h) {
        ringedButtonBase(p, w, h);
        p.setPen(pen(kWhite, 6));
        QPainterPath path;
        path.moveTo(20, 38);
        path.lineTo(32, 24);
        path.lineTo(44, 38);
        p.drawPath(path);
    });
    save("next.png", 64, 64, [](QPainter& p, int w, int h) {
        ringedButtonBase(p, w, h);
        p.setPen(pen(kWhite, 6));
        QPainterPath path;
        path.moveTo(20, 26);
        path.lineTo(32, 40);
        path.lineTo(44, 26);
        p.drawPath(path);
    });
    save("menu.png", 64, 64, [](QPainter& p, int w, int h) {
        ringedButtonBase(p, w, h);
        p.setPen(pen(kWhite, 5));
        for (int i = 0; i < 3; ++i)
            p.drawLine(QPointF(19, 22 + 10 * i), QPointF(45, 22 + 10 * i));
    });
    save("add.png", 64, 64, [](QPainter& p, int w, int h) {
        roundButtonBase(p, w, h, kBlue);
        p.setPen(pen(kWhite, 6));
        p.drawLine(QPointF(32, 18), QPointF(32, 46));
        p.drawLine(QPointF(18, 32), QPointF(46, 32));
    });
    save("page_change.png", 64, 64, [](QPainter& p, int w, int h) {
        roundButtonBase(p, w, h, kBlue);
        p.setPen(pen(kWhite, 5));
        QPainterPath path;
        path.moveTo(17, 26);
        path.lineTo(45, 26);
        path.lineTo(37, 18);
        path.moveTo(47, 38);
        path.lineTo(19, 38);
        path.lineTo(27, 46);
        p.drawPath(path);
    });
}

// ---- marks and toggles -----------------------------------------------------------------------
void marks()
{
    save("checked.png", 40, 40, [](QPainter& p, int, int) {
        p.setPen(Qt::NoPen);
        p.setBrush(kBlue);
        p.drawRoundedRect(QRectF(3, 3, 34, 34), 7, 7);
        p.setPen(pen(kWhite, 4.5));
        QPainterPath path;
        path.moveTo(11, 21);
        path.lineTo(18, 28);
        path.lineTo(30, 13);
        p.drawPath(path);
    });
    save("unchecked.png", 40, 40, [](QPainter& p, int, int) {
        p.setPen(pen(kGrey, 3));
        p.setBrush(kDark);
        p.drawRoundedRect(QRectF(4, 4, 32, 32), 7, 7);
    });
    const auto toggle = [](bool on) {
        return [on](QPainter& p, int w, int h) {
            p.setPen(Qt::NoPen);
            p.setBrush(on ? kBlue : QColor(0x4A, 0x4D, 0x5E));
            p.drawRoundedRect(QRectF(1, 1, w - 2, h - 2), (h - 2) / 2.0, (h - 2) / 2.0);
            p.setBrush(kWhite);
            const qreal d = h - 8;
            p.drawEllipse(QRectF(on ? w - d - 4 : 4, 4, d, d));
            text(p, QRectF(on ? 4 : d + 4, 0, w - d - 8, h), on ? "ON" : "OFF", h * 0.36, kWhite);
        };
    };
    save("button_on.png", 96, 44, toggle(true));
    save("button_off.png", 96, 44, toggle(false));
    save("state_on.png", 32, 32, [](QPainter& p, int, int) {
        p.setPen(Qt::NoPen);
        p.setBrush(kGreen);
        p.drawEllipse(QRectF(2, 2, 28, 28));
        p.setPen(pen(kWhite, 3.5));
        QPainterPath path;
        path.moveTo(9, 16);
        path.lineTo(14, 21);
        path.lineTo(23, 11);
        p.drawPath(path);
    });
    save("state_off.png", 32, 32, [](QPainter& p, int, int) {
        p.setPen(pen(kGrey, 3));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(3, 3, 26, 26));
    });
    save("warning.png", 64, 64, [](QPainter& p, int, int) {
        QPainterPath tri;
        tri.moveTo(32, 5);
        tri.lineTo(60, 56);
        tri.lineTo(4, 56);
        tri.closeSubpath();
        p.setPen(pen(kAmber, 4));
        p.setBrush(kAmber);
        p.drawPath(tri);
        p.setPen(pen(kDark, 6));
        p.drawLine(QPointF(32, 22), QPointF(32, 40));
        p.drawPoint(QPointF(32, 49));
    });
    const auto osd = [](bool yes) {
        return [yes](QPainter& p, int w, int h) {
            p.fillRect(0, 0, w, h, QColor(16, 16, 28));
            p.setPen(Qt::NoPen);
            p.setBrush(yes ? kGreen : kRed);
            p.drawEllipse(QRectF(2, 2, w - 4, h - 4));
            p.setPen(pen(kWhite, 3));
            if (yes) {
                QPainterPath path;
                path.moveTo(7, 12);
                path.lineTo(11, 16);
                path.lineTo(18, 8);
                p.drawPath(path);
            } else {
                p.drawLine(QPointF(8, 8), QPointF(16, 16));
                p.drawLine(QPointF(16, 8), QPointF(8, 16));
            }
        };
    };
    save("osd_yes.bmp", 24, 24, osd(true), "BMP");
    save("osd_no.bmp", 24, 24, osd(false), "BMP");
}

// ---- connectors ------------------------------------------------------------------------------
void connectorShape(QPainter& p, int w, int h, const QColor& c, bool dvi)
{
    p.setPen(pen(c, 3));
    p.setBrush(QColor(c.red(), c.green(), c.blue(), 40));
    QPainterPath path;
    const qreal x0 = 6, x1 = w - 6, y0 = 6, y1 = h * 0.55;
    if (dvi) {
        path.moveTo(x0 + 4, y0);
        path.lineTo(x1 - 4, y0);
        path.lineTo(x1 - 10, y1);
        path.lineTo(x0 + 10, y1);
        path.closeSubpath();
    } else {
        path.moveTo(x0, y0);
        path.lineTo(x1, y0);
        path.lineTo(x1, y1 - 8);
        path.lineTo(x1 - 8, y1);
        path.lineTo(x0 + 8, y1);
        path.lineTo(x0, y1 - 8);
        path.closeSubpath();
    }
    p.drawPath(path);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    if (dvi) {
        for (int r = 0; r < 2; ++r)
            for (int i = 0; i < 6; ++i)
                p.drawEllipse(QPointF(x0 + 16 + i * (x1 - x0 - 32) / 5.0, y0 + 8 + r * 9), 2.2, 2.2);
    } else {
        p.drawRoundedRect(QRectF(x0 + 10, y0 + 8, x1 - x0 - 20, 6), 2, 2);
    }
}

void connector(const QString& name, const QString& label, const QColor& c, bool dvi)
{
    save(name, 80, 60, [&](QPainter& p, int w, int h) {
        connectorShape(p, w, h, c, dvi);
        text(p, QRectF(0, h * 0.58, w, h * 0.42), label, 15, c);
    });
}

void connectors()
{
    connector("HDMI.png", "HDMI", kGrey, false);
    connector("DVI.png", "DVI", kGrey, true);
    connector("HDMI13.png", "HDMI 1.4", kGrey, false);
    connector("HDMI13_lv.png", "HDMI 1.4", kGreen, false);
    connector("HDMI20.png", "HDMI 2.0", kGrey, false);
    connector("HDMI20_lv.png", "HDMI 2.0", kGreen, false);
    connector("dvilv.png", "DVI", kGreen, true);
    connector("extlv.png", "EXT", kGreen, false);
    save("offline.png", 64, 56, [](QPainter& p, int, int) {
        // An Ethernet jack, grey: no link.
        p.setPen(pen(kGrey, 3));
        p.setBrush(Qt::NoBrush);
        QPainterPath path;
        path.moveTo(8, 6);
        path.lineTo(56, 6);
        path.lineTo(56, 40);
        path.lineTo(44, 40);
        path.lineTo(44, 50);
        path.lineTo(20, 50);
        path.lineTo(20, 40);
        path.lineTo(8, 40);
        path.closeSubpath();
        p.drawPath(path);
        for (int i = 0; i < 6; ++i)
            p.drawLine(QPointF(17 + i * 6, 12), QPointF(17 + i * 6, 20));
    });
}

// ---- window mirror modes ---------------------------------------------------------------------
void mirrors()
{
    // 1 normal, 2 left-right, 3 upside down, 4 both.
    for (int m = 1; m <= 4; ++m) {
        for (bool on : {true, false}) {
            const QString name = QString("mirror%1_%2.png").arg(m).arg(on ? "on" : "off");
            save(name, 64, 64, [m, on](QPainter& p, int w, int h) {
                const QColor c = on ? kBlue : kGrey;
                p.setPen(pen(c, 2.5));
                p.setBrush(on ? QColor(71, 119, 255, 50) : Qt::NoBrush);
                p.drawRoundedRect(QRectF(4, 4, w - 8, h - 8), 8, 8);
                p.save();
                p.translate(w / 2.0, h / 2.0);
                if (m == 2 || m == 4)
                    p.scale(-1, 1);
                if (m == 3 || m == 4)
                    p.scale(1, -1);
                // A letter F shows which way the picture faces.
                p.setPen(pen(on ? kWhite : kGrey, 5));
                p.drawLine(QPointF(-8, -16), QPointF(-8, 16));
                p.drawLine(QPointF(-8, -16), QPointF(10, -16));
                p.drawLine(QPointF(-8, -1), QPointF(6, -1));
                p.restore();
            });
        }
    }
}

// ---- test patterns ---------------------------------------------------------------------------
void patterns()
{
    const QColor solid[5] = {Qt::red, Qt::green, Qt::blue, Qt::white, Qt::black};
    for (int i = 0; i < 5; ++i) {
        save(QString("img_test%1.png").arg(i + 1), 120, 80, [&](QPainter& p, int w, int h) {
            p.fillRect(0, 0, w, h, solid[i]);
            p.setPen(QPen(QColor(0x60, 0x60, 0x70), 2));
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRectF(1, 1, w - 2, h - 2));
        });
    }
    save("img_test6.png", 120, 80, [](QPainter& p, int w, int h) {
        const QColor bars[7] = {Qt::white, Qt::yellow, Qt::cyan, Qt::green, Qt::magenta, Qt::red, Qt::blue};
        for (int i = 0; i < 7; ++i)
            p.fillRect(QRectF(i * w / 7.0, 0, w / 7.0 + 1, h), bars[i]);
    });
    save("img_test7.png", 120, 80, [](QPainter& p, int w, int h) {
        p.fillRect(0, 0, w, h, Qt::black);
        for (int x = 0; x < w; x += 12)
            p.fillRect(QRectF(x, 0, 6, h), QColor(0xC0, 0xC0, 0xC0));
    });
    save("img_test8.png", 120, 80, [](QPainter& p, int w, int h) {
        p.fillRect(0, 0, w, h, Qt::black);
        for (int y = 0; y < h; y += 10)
            p.fillRect(QRectF(0, y, w, 5), QColor(0xC0, 0xC0, 0xC0));
    });
}

// ---- receiving-card routing patterns ---------------------------------------------------------
// Patterns 1-16 walk a 4 x 4 grid of cards: start corner (4) x first direction (2) x snake or
// return-to-start rows (2).
void routes()
{
    for (int n = 1; n <= 16; ++n) {
        const int k = n - 1;
        const int corner = k / 4;           // 0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right
        const bool vertical = (k / 2) % 2;  // first run goes down/up instead of across
        const bool snake = (k % 2) == 0;
        save(QString("line%1.png").arg(n), 64, 64, [=](QPainter& p, int, int) {
            std::vector<QPointF> pts;
            for (int a = 0; a < 4; ++a) {
                for (int b = 0; b < 4; ++b) {
                    const int bb = (snake && a % 2) ? 3 - b : b;
                    int col = vertical ? a : bb;
                    int row = vertical ? bb : a;
                    if (corner == 1 || corner == 3)
                        col = 3 - col;
                    if (corner == 2 || corner == 3)
                        row = 3 - row;
                    pts.emplace_back(11 + col * 14, 11 + row * 14);
                }
            }
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0x4A, 0x4D, 0x5E));
            for (const QPointF& c : pts)
                p.drawRoundedRect(QRectF(c.x() - 5, c.y() - 5, 10, 10), 2, 2);
            p.setPen(pen(kGreen, 2.2));
            for (size_t i = 1; i < pts.size(); ++i)
                p.drawLine(pts[i - 1], pts[i]);
            p.setPen(Qt::NoPen);
            p.setBrush(kAmber);
            p.drawEllipse(pts.front(), 4.5, 4.5);
        });
    }
}

// ---- output splice modes ---------------------------------------------------------------------
void outputs()
{
    const auto screen = [](QPainter& p, const QRectF& r, const QString& label) {
        p.setPen(pen(kBlue, 2));
        p.setBrush(QColor(71, 119, 255, 60));
        p.drawRoundedRect(r, 4, 4);
        text(p, r, label, 14, kWhite);
    };
    save("out_horizontal.png", 180, 40, [&](QPainter& p, int, int) {
        screen(p, QRectF(2, 2, 86, 36), "1");
        screen(p, QRectF(92, 2, 86, 36), "2");
    });
    save("out_vertical.png", 100, 80, [&](QPainter& p, int, int) {
        screen(p, QRectF(2, 2, 96, 36), "1");
        screen(p, QRectF(2, 42, 96, 36), "2");
    });
    save("out_copy.png", 100, 40, [&](QPainter& p, int, int) {
        screen(p, QRectF(2, 2, 96, 36), "1 = 2");
    });
}

// ---- shell: home tiles, notices, lock screen ---------------------------------------------------
void shellIcons()
{
    save("home_input.png", 72, 72, [](QPainter& p, int, int) {
        // A monitor with an arrow coming in.
        p.setPen(pen(kWhite, 4));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(16, 10, 50, 36), 4, 4);
        p.drawLine(QPointF(41, 46), QPointF(41, 58));
        p.drawLine(QPointF(29, 60), QPointF(53, 60));
        p.setPen(pen(kGreen, 5));
        p.drawLine(QPointF(4, 28), QPointF(32, 28));
        QPainterPath head;
        head.moveTo(24, 19);
        head.lineTo(33, 28);
        head.lineTo(24, 37);
        p.drawPath(head);
    });
    save("home_mode.png", 72, 72, [](QPainter& p, int, int) {
        // Stacked layers: stored set-ups.
        for (int i = 2; i >= 0; --i) {
            QPainterPath d;
            const qreal y = 20 + i * 12;
            d.moveTo(36, y - 12);
            d.lineTo(64, y);
            d.lineTo(36, y + 12);
            d.lineTo(8, y);
            d.closeSubpath();
            p.setPen(pen(kWhite, 3));
            p.setBrush(i == 0 ? kBlue : QColor(0x21, 0x24, 0x35));
            p.drawPath(d);
        }
    });
    save("home_settings.png", 72, 72, [](QPainter& p, int, int) {
        // A gear.
        p.setPen(Qt::NoPen);
        p.setBrush(kWhite);
        p.translate(36, 36);
        for (int i = 0; i < 8; ++i) {
            p.save();
            p.rotate(i * 45);
            p.drawRoundedRect(QRectF(-6, -30, 12, 14), 3, 3);
            p.restore();
        }
        p.drawEllipse(QPointF(0, 0), 22, 22);
        p.setBrush(QColor(0x21, 0x24, 0x35));
        p.drawEllipse(QPointF(0, 0), 10, 10);
    });
    save("home_status.png", 72, 72, [](QPainter& p, int, int) {
        // A pulse line in a frame.
        p.setPen(pen(kWhite, 4));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(6, 10, 60, 52), 6, 6);
        p.setPen(pen(kGreen, 4));
        QPainterPath path;
        path.moveTo(12, 38);
        path.lineTo(24, 38);
        path.lineTo(30, 24);
        path.lineTo(40, 52);
        path.lineTo(46, 36);
        path.lineTo(60, 36);
        p.drawPath(path);
    });
    const auto padlock = [](bool closed, const QColor& c) {
        return [closed, c](QPainter& p, int w, int h) {
            const qreal s = w / 72.0;
            p.scale(s, s);
            p.setPen(pen(c, 6));
            p.setBrush(Qt::NoBrush);
            QPainterPath shackle;
            if (closed) {
                shackle.moveTo(22, 34);
                shackle.lineTo(22, 22);
                shackle.arcTo(QRectF(22, 8, 28, 28), 180, -180);
                shackle.lineTo(50, 34);
            } else {
                shackle.moveTo(22, 34);
                shackle.lineTo(22, 18);
                shackle.arcTo(QRectF(22, 4, 28, 28), 180, -180);
                shackle.lineTo(50, 24);
            }
            p.drawPath(shackle);
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawRoundedRect(QRectF(14, 32, 44, 34), 6, 6);
            p.setBrush(QColor(0x10, 0x10, 0x1C));
            p.drawEllipse(QPointF(36, 46), 5, 5);
            p.drawRect(QRectF(34, 48, 4, 10));
            Q_UNUSED(h);
        };
    };
    save("lock_on.png", 72, 72, padlock(true, kAmber));
    save("lock_off.png", 72, 72, padlock(false, kWhite));
    save("lock_big.png", 120, 120, padlock(true, kWhite));
    save("tip_ok.png", 96, 96, [](QPainter& p, int w, int h) {
        roundButtonBase(p, w, h, kGreen);
        p.setPen(pen(kWhite, 9));
        QPainterPath path;
        path.moveTo(26, 50);
        path.lineTo(42, 66);
        path.lineTo(72, 32);
        p.drawPath(path);
    });
    const auto usb = [](bool in) {
        return [in](QPainter& p, int w, int h) {
            roundButtonBase(p, w, h, in ? kBlue : QColor(0x4A, 0x4D, 0x5E));
            // A USB stick.
            p.setPen(Qt::NoPen);
            p.setBrush(kWhite);
            p.drawRoundedRect(QRectF(36, 36, 24, 40), 4, 4);
            p.setBrush(Qt::NoBrush);
            p.setPen(pen(kWhite, 3));
            p.drawRect(QRectF(40, 20, 16, 16));
            p.setPen(Qt::NoPen);
            p.setBrush(in ? kBlue : QColor(0x4A, 0x4D, 0x5E));
            p.drawRect(QRectF(44, 24, 3, 4));
            p.drawRect(QRectF(50, 24, 3, 4));
            if (!in) {
                p.setPen(pen(kRed, 7));
                p.drawLine(QPointF(22, 22), QPointF(74, 74));
            }
        };
    };
    save("tip_usb_in.png", 96, 96, usb(true));
    save("tip_usb_out.png", 96, 96, usb(false));
    save("tip_reading.png", 96, 96, [](QPainter& p, int w, int h) {
        roundButtonBase(p, w, h, kBlue);
        // An hourglass.
        QPainterPath g;
        g.moveTo(30, 22);
        g.lineTo(66, 22);
        g.lineTo(50, 48);
        g.lineTo(66, 74);
        g.lineTo(30, 74);
        g.lineTo(46, 48);
        g.closeSubpath();
        p.setPen(pen(kWhite, 4));
        p.setBrush(Qt::NoBrush);
        p.drawPath(g);
        p.setPen(Qt::NoPen);
        p.setBrush(kWhite);
        QPainterPath sand;
        sand.moveTo(38, 70);
        sand.lineTo(58, 70);
        sand.lineTo(48, 58);
        sand.closeSubpath();
        p.drawPath(sand);
    });
    save("update.png", 120, 120, [](QPainter& p, int w, int h) {
        // A chip with an arrow down onto it.
        p.setPen(pen(kWhite, 4));
        p.setBrush(QColor(0x21, 0x24, 0x35));
        p.drawRoundedRect(QRectF(28, 52, 64, 50), 6, 6);
        for (int i = 0; i < 4; ++i) {
            p.drawLine(QPointF(38 + i * 15, 102), QPointF(38 + i * 15, 112));
            p.drawLine(QPointF(18, 62 + i * 11), QPointF(28, 62 + i * 11));
            p.drawLine(QPointF(92, 62 + i * 11), QPointF(102, 62 + i * 11));
        }
        p.setPen(pen(kGreen, 7));
        p.drawLine(QPointF(60, 6), QPointF(60, 40));
        QPainterPath head;
        head.moveTo(46, 28);
        head.lineTo(60, 42);
        head.lineTo(74, 28);
        p.drawPath(head);
        Q_UNUSED(w);
        Q_UNUSED(h);
    });
}


// ---- settings menu -----------------------------------------------------------------------------
void menuIcons()
{
    const auto base = [](QPainter& p) {
        p.setPen(pen(kWhite, 3.5));
        p.setBrush(Qt::NoBrush);
    };
    save("menu_layout.png", 64, 64, [&](QPainter& p, int, int) {
        // Windows on a screen.
        base(p);
        p.drawRoundedRect(QRectF(6, 10, 52, 40), 4, 4);
        p.setPen(Qt::NoPen);
        p.setBrush(kBlue);
        p.drawRect(QRectF(12, 16, 22, 16));
        p.setBrush(kGreen);
        p.drawRect(QRectF(28, 26, 24, 18));
    });
    save("menu_crop.png", 64, 64, [&](QPainter& p, int, int) {
        // Crop marks.
        base(p);
        p.drawLine(QPointF(18, 6), QPointF(18, 46));
        p.drawLine(QPointF(18, 46), QPointF(58, 46));
        p.drawLine(QPointF(6, 18), QPointF(46, 18));
        p.drawLine(QPointF(46, 18), QPointF(46, 58));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(71, 119, 255, 120));
        p.drawRect(QRectF(20, 20, 24, 24));
    });
    save("menu_quality.png", 64, 64, [&](QPainter& p, int, int) {
        // A half-filled sun: brightness and contrast.
        base(p);
        p.drawEllipse(QPointF(32, 32), 13, 13);
        p.setPen(Qt::NoPen);
        p.setBrush(kWhite);
        QPainterPath half;
        half.moveTo(32, 19);
        half.arcTo(QRectF(19, 19, 26, 26), 90, 180);
        half.closeSubpath();
        p.drawPath(half);
        p.setPen(pen(kAmber, 3.5));
        for (int i = 0; i < 8; ++i) {
            const double a = i * M_PI / 4;
            p.drawLine(QPointF(32 + 19 * std::cos(a), 32 + 19 * std::sin(a)),
                       QPointF(32 + 27 * std::cos(a), 32 + 27 * std::sin(a)));
        }
    });
    save("menu_output.png", 64, 64, [&](QPainter& p, int, int) {
        // An LED wall of tiles.
        p.setPen(Qt::NoPen);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c) {
                p.setBrush((r + c) % 2 ? kBlue : QColor(0x6F, 0x95, 0xFF));
                p.drawRoundedRect(QRectF(5 + c * 14, 12 + r * 14, 12, 12), 2, 2);
            }
    });
    save("menu_test.png", 64, 64, [&](QPainter& p, int, int) {
        // Colour bars.
        const QColor bars[6] = {Qt::white, Qt::yellow, Qt::cyan, Qt::green, Qt::magenta, Qt::red};
        for (int i = 0; i < 6; ++i)
            p.fillRect(QRectF(6 + i * 8.7, 12, 8.7, 40), bars[i]);
        p.setPen(pen(kWhite, 2));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(6, 12, 52, 40));
    });
    save("menu_mapping.png", 64, 64, [&](QPainter& p, int, int) {
        // Cards joined by a cable.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x4A, 0x4D, 0x5E));
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                p.drawRoundedRect(QRectF(8 + c * 18, 8 + r * 18, 12, 12), 2, 2);
        p.setPen(pen(kGreen, 3));
        QPainterPath path;
        path.moveTo(14, 14);
        path.lineTo(50, 14);
        path.lineTo(50, 32);
        path.lineTo(14, 32);
        path.lineTo(14, 50);
        path.lineTo(50, 50);
        p.drawPath(path);
    });
    save("menu_link.png", 64, 64, [&](QPainter& p, int, int) {
        // A network of three nodes.
        p.setPen(pen(kWhite, 3));
        p.drawLine(QPointF(32, 16), QPointF(14, 48));
        p.drawLine(QPointF(32, 16), QPointF(50, 48));
        p.drawLine(QPointF(14, 48), QPointF(50, 48));
        p.setPen(Qt::NoPen);
        p.setBrush(kBlue);
        p.drawEllipse(QPointF(32, 16), 9, 9);
        p.setBrush(kGreen);
        p.drawEllipse(QPointF(14, 48), 9, 9);
        p.drawEllipse(QPointF(50, 48), 9, 9);
    });
    save("menu_advanced.png", 64, 64, [&](QPainter& p, int, int) {
        // Sliders.
        for (int i = 0; i < 3; ++i) {
            const qreal y = 16 + i * 16;
            p.setPen(pen(kWhite, 3));
            p.drawLine(QPointF(8, y), QPointF(56, y));
            p.setPen(Qt::NoPen);
            p.setBrush(i == 1 ? kAmber : kBlue);
            p.drawEllipse(QPointF(i == 0 ? 40 : (i == 1 ? 22 : 46), y), 6.5, 6.5);
        }
    });
}

// The lock screen's product line, one image per language: no prefix simplified Chinese,
// "en_" English, "ru_" Russian, "vn_" Vietnamese, "tn_" traditional Chinese.
void logos()
{
    struct Logo {
        const char* prefix;
        const char* line;
    };
    const Logo logos[] = {
        {"", "LED 视频处理器"},
        {"en_", "LED VIDEO PROCESSOR"},
        {"ru_", "LED ВИДЕОПРОЦЕССОР"},
        {"vn_", "BỘ XỬ LÝ VIDEO LED"},
        {"tn_", "LED 視頻處理器"},
    };
    for (const Logo& l : logos) {
        save(QString("%1logo.png").arg(l.prefix), 480, 110, [&](QPainter& p, int w, int) {
            // Four tiles of an LED wall, then the product line under them.
            const QColor tiles[4] = {kBlue, kGreen, kAmber, kRed};
            for (int i = 0; i < 4; ++i) {
                p.setPen(Qt::NoPen);
                p.setBrush(tiles[i]);
                p.drawRoundedRect(QRectF(w / 2.0 - 58 + i * 30, 4, 26, 26), 5, 5);
            }
            text(p, QRectF(0, 36, w, 44), "T71", 40, kWhite);
            text(p, QRectF(0, 78, w, 30), QString::fromUtf8(l.line), 22, QColor(0xC8, 0xCC, 0xDD), false);
        });
    }
}

void writeQrc()
{
    QFile f(g_outDir + "/t71_resource.qrc");
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write the resource list\n");
        std::exit(1);
    }
    QTextStream out(&f);
    out << "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n<qresource prefix=\"/\">\n";
    g_written.sort();
    for (const QString& name : g_written)
        out << "    <file>png/" << name << "</file>\n";
    out << "</qresource>\n</RCC>\n";
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: zel_imagegen <resources folder>\n");
        return 2;
    }
    g_outDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_outDir + "/png");
    navigation();
    marks();
    connectors();
    mirrors();
    patterns();
    routes();
    outputs();
    shellIcons();
    menuIcons();
    logos();
    writeQrc();
    std::printf("%d images\n", static_cast<int>(g_written.size()));
    return 0;
}
