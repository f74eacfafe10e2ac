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
// The change is applied but cannot be stored.
const PageText kNotSaved = {{"未保存", "Not saved", "Не сохранено", "Chưa lưu", "未保存"}};
// The code tip_not_saved shows under: none of the callers' codes.
constexpr int kNotSavedCode = 1000;
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
    if (code != 1 && (code < 3 || code > 5)) {
        delete frame_;
        frame_ = nullptr;
        return;
    }
    if (code != 1) {
        show_message(code, page_text(kTexts[code - 3]));
        return;
    }
    QLabel* label = new_content(code, QRect(100, 60, 120, 120));
    label->setGeometry(20, 20, 80, 80);
    label->setPixmap(QPixmap(":/png/check_180.png"));
    label->setScaledContents(true);
    label->raise();
    frame_->show();
    tip_show();
}

void TIP::tip_not_saved()
{
    show_message(kNotSavedCode, page_text(kNotSaved));
}

void TIP::show_message(int code, const QString& text)
{
    QLabel* label = new_content(code, QRect(50, 60, 220, 120));
    label->setGeometry(5, 5, 200, 100);
    // 15 px, wrapped at words; smaller only for a text that would not fit
    // whole.
    label->setStyleSheet(QString("font: %1px").arg(fitting_pixels(text, label->size(), 15, kMinTextPixels, true)));
    label->setWordWrap(true);
    label->setText(text);
    label->setAlignment(Qt::AlignCenter);
    frame_->show();
    tip_show();
}

QLabel* TIP::new_content(int code, const QRect& geometry)
{
    delete frame_;
    // Another message over a shown tip gets its own time; the same message
    // again keeps the time running.
    if (g_tip_flag && code != code_)
        ticks_ = 0;
    code_ = code;
    setGeometry(geometry);
    frame_ = new QFrame(this);
    frame_->setGeometry(0, 0, width(), height());
    frame_->setStyleSheet("background-color:rgb(136, 138, 133);");
    return new QLabel(frame_);
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
