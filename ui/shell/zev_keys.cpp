#include "ui/shell/zev_keys.h"

#include <QApplication>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>

#include "board/board.h"
#include "board/keypad.h"
#include "core/logging.h"
#include "core/zevrampara.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/pagepattern.h"
#include "ui/shell/pages.h"
#include "ui/shell/syncupdate.h"
#include "ui/shell/tip.h"

u32 check_hiddev()
{
    board::Keypad& keypad = board::current().keypad();
    if (keypad.init() != 0) {
        zevlog::warning(lcUi(), "\t hid init error ");
        return 0;
    }
    u32 found = 0;
    for (const board::HidDeviceId& d : keypad.enumerate()) {
        zevlog::debug(lcUi(), "\t VendorID = %02x , ProductID = %02x \n", d.vendor, d.product);
        if (d.vendor == board::Keypad::kVendor && d.product == board::Keypad::kProduct) {
            found = 1;
            break;
        }
    }
    zevlog::debug(lcUi(), "\t check_hiddev over");
    return found;
}

namespace
{
// LED pair of each source: byte of the report, signal bit, no-signal bit.
struct SourceLed {
    int byte;
    u8 on;
    u8 off;
};
const SourceLed kSourceLed[6] = {{2, 0x10, 0x20}, {2, 0x40, 0x80}, {3, 0x10, 0x20},
                                 {3, 0x40, 0x80}, {3, 0x01, 0x02}, {3, 0x04, 0x08}};
const u8 kWindowLed[4] = {0x01, 0x04, 0x10, 0x40};
} // namespace

void keyled_report(u8 report[5])
{
    ImageReadLock lock;
    const u8* img = ZevRamPara::p_zevrampara_config;
    u8 window = g_image_current;
    if (window > 5)
        window = 0;
    int layer = ZevRamPara::layerOffset(window);
    bool enabled = ZevRamPara::img16(layer + Img::kLayerEnable) & 1;
    report[0] = g_update_flag ? 0x5A : 0xA5;
    report[1] = enabled && window < 4 ? kWindowLed[window] : 0;
    report[2] = enabled && window == 4 ? 0x01 : enabled && window == 5 ? 0x04 : 0;
    report[3] = 0;
    short isCrop = 0;
    char cropIndex = 0;
    u8 source = ZevRamPara::ZevGetImageSource(img, window, &isCrop, &cropIndex, 0);
    if (debugOn())
        zevlog::debug(lcUi(), "\n update_usb_keyLed ...source_id =  %#x\n", source);
    if (source < 6) {
        int t = Img::kSourceTiming + 6 * source;
        bool signal = ZevRamPara::img16(t) && ZevRamPara::img16(t + 2) && ZevRamPara::img16(t + 4);
        const SourceLed& led = kSourceLed[source];
        report[led.byte] |= signal ? led.on : led.off;
    }
    u16 flags = ZevRamPara::img16(layer + Img::kLayerFlags);
    report[4] = u8(((flags & 2) ? 0x01 : 0) | ((flags & 1) ? 0x04 : 0));
}

void SyncUpdate::update_usb_keyLed()
{
    u8 report[5];
    keyled_report(report);
    if (debugOn())
        zevlog::debug(lcUi(), "\n report[1] = %#x report[2] = %#x report[3] = %#x report[4] = %#x\n", report[1],
                      report[2], report[3], report[4]);
    bool same = true;
    for (int i = 0; i < 5; ++i)
        same = same && report[i] == key_led[i];
    if (same)
        return;
    int r = board::current().keypad().sendReport(report, sizeof report);
    if (r == -1)
        qCDebug(lcUi, "handle error");
    else if (r < 0)
        qCDebug(lcUi, "handle write error");
    // Kept even when not delivered: a failed report is not resent until the
    // state changes.
    for (int i = 0; i < 5; ++i)
        key_led[i] = report[i];
    if (debugOn())
        zevlog::debug(lcUi(), "\n keyLed[0] = %#x keyLed[1] = %#x keyLed[2] = %#x keyLed[3] = %#x\n", key_led[0],
                      key_led[1], key_led[2], key_led[3]);
}

QWidget* panel_key_target()
{
    QWidget* target = dynamic_cast<QWidget*>(PageRegistry::at(g_page_focus));
    if (!target)
        target = QApplication::activeWindow();
    // A modal window over the page (the number keypad, the tip) takes the
    // keys, as it does for real input: a page that a tip covers must not
    // be closed under the tip's loop, which runs inside the page's own code.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && !(target && (modal == target || modal->isAncestorOf(target))))
        target = modal;
    return target;
}

KeypadPlayer::KeypadPlayer(board::Keypad& keypad, QObject* parent) : QObject(parent), keypad_(keypad)
{
    QString file = QString::fromStdString(keypad_.keyFile());
    if (file.isEmpty())
        return;
    watcher_ = new QFileSystemWatcher(this);
    // The folder too: an editor that replaces the file ends the file's watch.
    watcher_->addPath(QFileInfo(file).absolutePath());
    watcher_->addPath(file);
    connect(watcher_, &QFileSystemWatcher::fileChanged, this, &KeypadPlayer::take_keys);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this, file] {
        if (!watcher_->files().contains(file) && QFileInfo::exists(file))
            watcher_->addPath(file);
        take_keys();
    });
    // Keys appended before the watch began gave it no report: without this
    // look they would wait for the next, unrelated, change of the folder.
    take_keys();
}

void KeypadPlayer::start()
{
    static KeypadPlayer* player = nullptr;
    if (!player && !board::current().keypad().keyFile().empty())
        player = new KeypadPlayer(board::current().keypad(), qApp);
}

void KeypadPlayer::take_keys()
{
    for (int code : keypad_.takeKeys())
        pending_.push_back(code);
    if (!delivering_ && !pending_.empty()) {
        delivering_ = true;
        QTimer::singleShot(0, this, &KeypadPlayer::deliver_next);
    }
}

void KeypadPlayer::deliver_next()
{
    if (pending_.empty()) {
        delivering_ = false;
        return;
    }
    int code = pending_.front();
    pending_.pop_front();
    // The next key goes out from the event loop, also from the modal loop
    // of a page this key opens.
    QTimer::singleShot(0, this, &KeypadPlayer::deliver_next);
    // Looked up per key: the key before may have opened or closed a page.
    QWidget* target = panel_key_target();
    if (!target)
        return;
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}
