#include "ui/shell/tip.h"

#include <QFrame>
#include <QLabel>
#include <QPixmap>

#include "core/global.h"
#include "core/logging.h"
#include "core/utils.h"
#include "ui/shell/pagepattern.h"
#include "ui/shell/pages.h"
#include "ui/shell/panellook.h"
#include "ui/shell/textfit.h"
#include "ui_tip.h"

namespace
{
// Texts of codes 3, 4 and 5.
const PageText kTexts[] = {
    {{"U盘已接入\n请稍候…", "USB driver is connected,please wait...", "Драйвер USB подключен,\nпожалуйста,подождите...",
      "Usb đã truy cập\nxin vui lòng chờ …", "U盤已接入\n請稍候…"}},
    {{"U盘已拔出", "USB drive is unplugged.", "USB-накопитель отключен \nот сети.", "USB Thì không kết nối.",
      "U盤已拔出"}},
    {{"正在读取中，请稍候…", "Reading the data,pls wait", "Прочитайте данные,\nпожалуйста,подождите",
      "Đang đọc,xin vui lòng chờ …", "正在讀取中，請稍候…"}},
};
constexpr int kTimeoutTicks = 300;
} // namespace

TIP::TIP(QWidget* parent) : QDialog(parent, Qt::WindowFlags()), ui(new Ui_TIP)
{
    shell_resources_init();
    ui->setupUi(this);
}

TIP::~TIP()
{
    delete ui;
}

void TIP::tip_create(int code)
{
    delete frame_;
    frame_ = nullptr;
    if (code != 1 && (code < 3 || code > 5))
        return;
    // Another message over a shown tip gets its own time; the same message
    // again keeps the time running.
    if (g_tip_flag && code != code_)
        ticks_ = 0;
    code_ = code;
    if (code == 1)
        setGeometry(100, 60, 120, 120);
    else
        setGeometry(50, 60, 220, 120);
    frame_ = new QFrame(this);
    frame_->setGeometry(0, 0, width(), height());
    frame_->setStyleSheet("background-color:rgb(136, 138, 133);");
    QLabel* label = new QLabel(frame_);
    if (code == 1) {
        label->setGeometry(20, 20, 80, 80);
        label->setPixmap(QPixmap(":/png/check_180.png"));
        label->setScaledContents(true);
        label->raise();
    } else {
        label->setGeometry(5, 5, 200, 100);
        // 15 px, wrapped at words; smaller only for a text that would not
        // fit whole.
        QString text = page_text(kTexts[code - 3]);
        label->setStyleSheet(QString("font: %1px").arg(fitting_pixels(text, label->size(), 15, kMinTextPixels, true)));
        label->setWordWrap(true);
        label->setText(text);
        label->setAlignment(Qt::AlignCenter);
    }
    frame_->show();
    tip_show();
}

void TIP::tip_show()
{
    g_tip_flag = 1;
    Utils::wake_tick();
    if (isVisible())
        return;
    exec();
}

void TIP::tip_outtime_deal()
{
    if (++ticks_ < kTimeoutTicks)
        return;
    hide();
    ticks_ = 0;
    g_tip_flag = 0;
    if (debugOn())
        zevlog::debug(lcUi(), "\n tip over! ");
}
