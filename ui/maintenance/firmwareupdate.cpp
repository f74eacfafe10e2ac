#include "ui/maintenance/firmwareupdate.h"

#include <cmath>

#include <QPainter>

#include "core/global.h"
#include "core/logging.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/pages.h"
#include "ui/shell/pagepattern.h"

FirmwareUpdate* g_move_update = nullptr;

namespace
{

constexpr int kDots = 12;
constexpr int kTicksPerSecond = 100;

const PageText kTexts[] = {
    {{"正在升级，请勿断电", "Updating, do not power off", "Обновление, не выключайте", "Đang cập nhật, không tắt nguồn",
      "正在升級，請勿斷電"}},
    {{"已用时间 %1 秒", "Elapsed %1 s", "Прошло %1 с", "Đã qua %1 giây", "已用時間 %1 秒"}},
};

} // namespace

FirmwareUpdate::FirmwareUpdate(QWidget* parent) : QWidget(parent)
{
    setWindowFlags(Qt::FramelessWindowHint);
    setFixedSize(320, 240);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
}

void FirmwareUpdate::restart()
{
    spin_ = 0;
    seconds_ = 0;
    ticks_ = 0;
}

void FirmwareUpdate::update_time_deal()
{
    ++ticks_;
    if (ticks_ % 2 == 0)
        spin_ = (spin_ + 1) % kDots;
    if (ticks_ % kTicksPerSecond == 0)
        ++seconds_;
    update();
}

void FirmwareUpdate::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), Qt::black);
    const QPointF centre(160, 100);
    for (int i = 0; i < kDots; ++i) {
        const double angle = 2 * M_PI * i / kDots;
        // The dot at the spinner's step is the brightest; the trail fades.
        const int age = (spin_ - i + kDots) % kDots;
        QColor c(255, 171, 84);
        c.setAlpha(255 - age * 255 / kDots);
        painter.setBrush(c);
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(centre + QPointF(40 * std::cos(angle), 40 * std::sin(angle)), 6, 6);
    }
    painter.setPen(Qt::white);
    QFont f = font();
    f.setPixelSize(16);
    painter.setFont(f);
    painter.drawText(QRect(0, 160, 320, 30), Qt::AlignCenter, page_text(kTexts[0]));
    f.setPixelSize(12);
    painter.setFont(f);
    painter.drawText(QRect(0, 195, 320, 24), Qt::AlignCenter, page_text(kTexts[1]).arg(seconds_));
}

void firmware_update_start()
{
    if (!g_move_update)
        g_move_update = new FirmwareUpdate(nullptr);
    g_move_update->restart();
    if (g_mainwindow)
        g_move_update->move(g_mainwindow.get()->pos());
    g_move_update->show();
    g_move_update->raise();
}

void firmware_update_over()
{
    if (!g_move_update)
        return;
    g_move_update->close();
    delete g_move_update;
    g_move_update = nullptr;
    if (debugOn())
        zevlog::debug(lcUi(), "\n update_over !!!");
}
