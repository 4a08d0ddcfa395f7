#include "ui/shell/tip.h"

#include <QLabel>

#include "core/global.h"
#include "ui/shell/shell_text.h"

TIP* g_tip = nullptr;

namespace {

struct Notice {
    int kind;
    const char* image;
    LangText text;
};

constexpr Notice kNotices[] = {
    {TIP::kCheck, ":/png/tip_ok.png", {"设置成功", "Done", "Готово", "Đã xong", "設置成功"}},
    {TIP::kUsbIn, ":/png/tip_usb_in.png",
     {"U盘已连接", "USB drive connected", "USB-накопитель подключён", "Đã kết nối USB", "U盤已連接"}},
    {TIP::kUsbOut, ":/png/tip_usb_out.png",
     {"U盘已拔出", "USB drive unplugged", "USB-накопитель извлечён", "Đã rút USB", "U盤已拔出"}},
    {TIP::kReading, ":/png/tip_reading.png",
     {"正在读取数据…", "Reading data…", "Чтение данных…", "Đang đọc dữ liệu…", "正在讀取數據…"}},
    {TIP::kNotSaved, ":/png/warning.png",
     {"保存失败，未生效", "Not saved, not applied", "Не сохранено, не применено", "Chưa lưu, chưa áp dụng",
      "保存失敗，未生效"}},
    {TIP::kModeDamaged, ":/png/warning.png",
     {"模式已损坏，未调用", "Mode damaged, not loaded", "Режим повреждён, не загружен", "Chế độ bị hỏng, chưa tải",
      "模式已損壞，未調用"}},
};

constexpr int kWidth = 320;
constexpr int kHeight = 200;

}  // namespace

TIP::TIP(QWidget* parent) : QDialog(parent)
{
    setObjectName("TIP");
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setGeometry((800 - kWidth) / 2, (480 - kHeight) / 2, kWidth, kHeight);
    setStyleSheet("QDialog#TIP{background-color:#212435;border:2px solid #4777FF;border-radius:12px;}");

    icon_ = new QLabel(this);
    icon_->setObjectName("label_icon");
    icon_->setGeometry((kWidth - 96) / 2, 24, 96, 96);
    icon_->setScaledContents(true);
    icon_->setStyleSheet("background:transparent;");
    text_ = new QLabel(this);
    text_->setObjectName("label_text");
    text_->setGeometry(10, 130, kWidth - 20, 50);
    text_->setAlignment(Qt::AlignCenter);
    text_->setWordWrap(true);
    text_->setStyleSheet("color:#FFFFFF;font:bold 22px;background:transparent;");
}

void TIP::tip_create(int kind)
{
    for (const Notice& n : kNotices) {
        if (n.kind != kind)
            continue;
        kind_ = kind;
        icon_->setPixmap(QPixmap(QString::fromLatin1(n.image)));
        text_->setText(langText(n.text));
        shownAt_ = G_timeTicks.load();
        show();
        raise();
        return;
    }
}

void TIP::tick()
{
    if (isVisible() && G_timeTicks.load() - shownAt_ >= kShowTicks)
        hide();
}
