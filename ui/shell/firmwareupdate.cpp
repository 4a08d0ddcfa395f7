#include "ui/shell/firmwareupdate.h"

#include <QLabel>
#include <QPainter>

#include <cmath>

#include "ui/shell/shell_text.h"

namespace {

constexpr LangText kTitle = {"正在升级固件", "Updating firmware", "Обновление прошивки", "Đang cập nhật firmware",
                             "正在升級固件"};
constexpr LangText kHint = {"请勿断电或拔出U盘", "Do not power off or remove the USB drive",
                            "Не выключайте питание и не извлекайте USB-накопитель",
                            "Không tắt nguồn hoặc rút USB", "請勿斷電或拔出U盤"};

constexpr int kSpinnerX = 400;
constexpr int kSpinnerY = 300;
constexpr int kSpinnerR = 44;

}  // namespace

FirmwareUpdate::FirmwareUpdate(QWidget* parent) : QDialog(parent)
{
    setObjectName("FirmwareUpdate");
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setGeometry(0, 0, 800, 480);
    setStyleSheet("QDialog#FirmwareUpdate{background-color: rgb(16, 16, 28);}");

    auto* icon = new QLabel(this);
    icon->setObjectName("label_update_icon");
    icon->setGeometry(340, 40, 120, 120);
    icon->setPixmap(QPixmap(":/png/update.png"));
    icon->setStyleSheet("background:transparent;");
    title_ = new QLabel(this);
    title_->setObjectName("label_update_title");
    title_->setGeometry(0, 170, 800, 44);
    title_->setAlignment(Qt::AlignCenter);
    title_->setStyleSheet("color:#FFFFFF;font:bold 30px;background:transparent;");
    hint_ = new QLabel(this);
    hint_->setObjectName("label_update_hint");
    hint_->setGeometry(0, 380, 800, 40);
    hint_->setAlignment(Qt::AlignCenter);
    hint_->setStyleSheet("color:#FFB020;font:22px;background:transparent;");
    language_changed();
}

void FirmwareUpdate::language_changed()
{
    title_->setText(langText(kTitle));
    hint_->setText(langText(kHint));
}

void FirmwareUpdate::animate()
{
    if (++tickCount_ < kTicksPerStep)
        return;
    tickCount_ = 0;
    step_ = (step_ + 1) % kSteps;
    update(kSpinnerX - kSpinnerR - 10, kSpinnerY - kSpinnerR - 10, 2 * kSpinnerR + 20, 2 * kSpinnerR + 20);
}

void FirmwareUpdate::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    // Twelve dots round a circle; the lit one goes round, the ones behind it fade.
    for (int i = 0; i < kSteps; ++i) {
        const double angle = 2 * M_PI * i / kSteps - M_PI / 2;
        const int age = (step_ - i + kSteps) % kSteps;
        QColor c(0x47, 0x77, 0xFF);
        c.setAlpha(qMax(40, 255 - age * 40));
        p.setBrush(c);
        p.drawEllipse(QPointF(kSpinnerX + kSpinnerR * std::cos(angle), kSpinnerY + kSpinnerR * std::sin(angle)), 7, 7);
    }
}
