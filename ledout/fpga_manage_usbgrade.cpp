// Upgrade from a USB stick: the packages ("ZEV", "ZEVZK") in the stick's
// folder, and each child newer than what runs: the application file, the
// first FPGA's image in its SPI flash, the OSD font in the video
// processor's flash; within a package each of these is written once, by
// the last child naming it. Every length is checked against the package
// and the flash area before anything is erased; an application is
// installed (and the box restarted) only after its file was written and
// read back intact.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>

#include "board/board.h"
#include "board/file_read.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "ledout/fpga_drv.h"
#include "ledout/fpga_jobs.h"
#include "ledout/fpga_manage.h"
#include "video/c331_manage.h"

namespace
{
constexpr unsigned kPackageHead = 49;
constexpr unsigned kEntry = 21;
constexpr unsigned kImageHead = 64;
constexpr unsigned kFontHead = 35;
constexpr u16 kControllerType = 0x8B52;
constexpr u8 kPublishChecked = 0x80;
constexpr u8 kTypeApp = 10;
constexpr u8 kTypeFpga0 = 7;
constexpr u8 kTypeFont = 13;
constexpr u8 kRunningVersion[6] = {26, 3, 30, 11, 2, 1};
constexpr char kNewApp[] = "/data/app/zevQ64N2";
// The FPGA's flash keeps its records from here on.
constexpr u32 kImageLimit = 0x6C0000;
constexpr u32 kBlock = 32768;
constexpr u32 kSector = 4096;
constexpr u32 kFontPiece = 16384;
constexpr u32 kC331Flash = 0x2000000;
constexpr u8 kAllFonts = 0x3F;

// Where each font lies in the video processor's flash and where the next
// one begins.
struct FontArea {
    u8 coding;
    u8 width;
    u32 addr;
    u32 end;
};
constexpr FontArea kFontAreas[] = {
    {1, 0x20, 0x000000, 0x010000},
    {0, 0x20, 0x010000, 0x410000},
    {1, 0x40, 0x410000, 0x450000},
    {0, 0x40, 0x450000, kC331Flash},
};

u32 le32(const u8* p)
{
    return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24;
}

u8 fromBcd(u8 b)
{
    return u8((b >> 4) * 10 + (b & 0x0F));
}

void msleep(unsigned ms)
{
    usleep(ms * 1000);
}

// Size of a board file, -1 when it is no file that can be read.
int64_t fileSize(const char* path)
{
    int64_t size = -1;
    return Utils::read_file_at(QString::fromLocal8Bit(path), 0, nullptr, 0, &size) == Utils::FILE_READ ? size : -1;
}

// n bytes at offset of a board file, under the file lock.
bool readAt(const char* path, uint64_t offset, u8* out, size_t n)
{
    return Utils::read_file_at(QString::fromLocal8Bit(path), offset, out, n) == Utils::FILE_READ;
}

bool fits(uint64_t offset, uint64_t length, int64_t size)
{
    return size >= 0 && offset + length <= uint64_t(size);
}

// The area a font child's header names; none for an unknown coding or
// width, or a font longer than its area (it would overwrite another font).
const FontArea* fontArea(const char* path, uint64_t offset, u32 len)
{
    u8 head[kFontHead];
    if (len < kFontHead || !readAt(path, offset, head, sizeof head))
        return nullptr;
    for (const FontArea& f : kFontAreas)
        if (f.coding == head[5] && f.width == head[18])
            return uint64_t(f.addr) + len <= f.end ? &f : nullptr;
    return nullptr;
}

// Where a package's children go: the application file, the first FPGA's
// flash, and each font's area.
enum : u8 { kTargetApp, kTargetFpga0, kTargetFont, kTargets = kTargetFont + sizeof kFontAreas / sizeof *kFontAreas };

// What a child of a package comes to, known before any of its data is read.
struct ChildPlan {
    enum Act : u8 { kNothing, kFailed, kInstall, kSameFpga };
    Act act = kNothing;
    u8 target = 0;
};

// The child being installed: its length as the package's table gives it.
u32 g_childLen = 0;

QString clockText(fpga_manage* m)
{
    TimeRealType t;
    m->IT8563WE_Get(&t);
    return QString("%1:%2:%3").arg(t.hour).arg(t.minute).arg(t.second);
}
} // namespace

void fpga_manage::usb_upgrade_manage_deal()
{
    usb_upgrade_deal();
}

void fpga_manage::usb_upgrade_deal()
{
    switch (g_send_para.step()) {
    case 0:
        if (!g_update_flag.load()) {
            if (const auto start = fpga_jobs::hooks().update_start)
                start();
        }
        usb_time_text = clockText(this);
        g_update_flag = 1;
        Utils::wake_tick();
        usb_file_count = 0;
        g_send_para.set_step(1);
        break;
    case 1:
        get_usb_file_list_path();
        g_send_para.set_step(2);
        break;
    case 2:
        usb_upgrade_main_deal();
        g_send_para.set_step(3);
        break;
    default:
        usb_time_text += "-" + clockText(this);
        if (g_update_flag.load()) {
            if (const auto over = fpga_jobs::hooks().update_over)
                over();
        }
        ZevRamPara::test_signal(104);
        g_update_flag = 0;
        g_send_para.set_step(0);
        g_usb_grade = 0;
        break;
    }
}

void fpga_manage::get_usb_file_list_path()
{
    usb_file_list.clear();
    usb_file_count = 0;
    QString dir = "/mnt/usb1/";
    const QString sub = Utils::usb_grade_path();
    if (sub != " ") {
        // The stick's folder name must stay inside the stick.
        if (sub.contains("..") || sub.startsWith('/'))
            return;
        dir += sub;
    }
    const QDir d(board::path(dir));
    const QFileInfoList files = d.entryInfoList(QDir::Files | QDir::NoSymLinks | QDir::Hidden, QDir::Unsorted);
    for (const QFileInfo& f : files) {
        const QString suffix = f.suffix();
        if ((suffix != "ZEV" && suffix != "ZEVZK") || usb_file_count == 255)
            continue;
        usb_file_list.append(QDir::cleanPath(dir + "/" + f.fileName()));
        ++usb_file_count;
    }
}

void fpga_manage::usb_upgrade_main_deal()
{
    usb_flag_app = usb_flag_fpga1 = usb_flag_fpga2 = usb_flag_font = 0;
    // Anything that could not be read, did not fit or was not written.
    bool failed = false;
    for (int p = 0; p < usb_file_count && p < usb_file_list.size(); ++p) {
        const QByteArray pathBytes = usb_file_list.at(p).toLocal8Bit();
        const char* path = pathBytes.constData();
        u8 head[kPackageHead];
        int64_t size = 0;
        if (Utils::read_file_at(usb_file_list.at(p), 0, head, sizeof head, &size) != Utils::FILE_READ) {
            syncAndSettle();
            failed = true;
            continue;
        }
        Utils::system_mutex("sync");
        msleep(1);
        const bool ours = (head[18] | head[19] << 8) == kControllerType;
        const bool checked = head[2] == kPublishChecked;
        const unsigned count = head[47] | head[48] << 8;
        // The entry table must lie inside the package; it is read at once,
        // so that a count that lies costs nothing but this check.
        if (!fits(kPackageHead, uint64_t(kEntry) * count, size)) {
            failed = true;
            continue;
        }
        std::vector<u8> table(size_t(kEntry) * count);
        const bool read = readAt(path, kPackageHead, table.data(), table.size());
        syncAndSettle();
        if (!read) {
            failed = true;
            continue;
        }
        // What each child comes to, from the table (and a font's header)
        // alone. Each target is written once, by the last child naming it:
        // the ones before it would only be overwritten, and thousands of
        // them would hold the box (and wear its flash) for hours.
        std::vector<ChildPlan> plan(count);
        int last[kTargets];
        std::fill(last, last + kTargets, -1);
        bool fpgaRead = false;
        for (unsigned i = 0; i < count; ++i) {
            const u8* e = table.data() + size_t(kEntry) * i;
            const u32 len = le32(e + 1), offset = le32(e + 5);
            const u8* version = e + 9;
            ChildPlan& c = plan[i];
            if (len == 0 || !fits(offset, len, size)) {
                // A child that is not wholly inside the package is not installed.
                c.act = ChildPlan::kFailed;
            } else if ((e[0] == kTypeApp || e[0] == kTypeFpga0) && !ours) {
                // Made for another controller.
                c.act = ChildPlan::kFailed;
            } else if (e[0] == kTypeApp) {
                if (!checked || std::memcmp(version, kRunningVersion, sizeof kRunningVersion) != 0)
                    c = {ChildPlan::kInstall, kTargetApp};
            } else if (e[0] == kTypeFpga0) {
                // The running image's version stays while its flash is written.
                if (!fpgaRead) {
                    for (u8 r = 28; r <= 31; ++r)
                        read_from_register(r, 0);
                    fpgaRead = true;
                }
                const u8* reg = MCU_REG_func[0];
                const bool same = version[0] == fromBcd(reg[31]) && version[1] == fromBcd(reg[30]) &&
                                  version[2] == fromBcd(reg[29]) && version[5] == reg[28];
                c = checked && same ? ChildPlan{ChildPlan::kSameFpga, 0} : ChildPlan{ChildPlan::kInstall, kTargetFpga0};
            } else if (e[0] == kTypeFont && (ZevRamPara::device.font_status & kAllFonts) != kAllFonts) {
                const FontArea* area = fontArea(path, offset, len);
                c = area ? ChildPlan{ChildPlan::kInstall, u8(kTargetFont + (area - kFontAreas))}
                         : ChildPlan{ChildPlan::kFailed, 0};
            }
            // Anything else (8: the board has no second FPGA) is skipped.
            if (c.act == ChildPlan::kInstall)
                last[c.target] = int(i);
        }
        for (unsigned i = 0; i < count; ++i) {
            const ChildPlan& c = plan[i];
            if (c.act == ChildPlan::kFailed)
                failed = true;
            else if (c.act == ChildPlan::kSameFpga)
                usb_flag_fpga1 = 0;
            if (c.act != ChildPlan::kInstall || last[c.target] != int(i))
                continue;
            const u8* e = table.data() + size_t(kEntry) * i;
            const u32 len = le32(e + 1), offset = le32(e + 5);
            char* file = const_cast<char*>(path);
            g_childLen = len;
            int written = 0;
            u8* flag = &usb_flag_font;
            if (c.target == kTargetApp) {
                written = update_muc_file(file, offset, len);
                flag = &usb_flag_app;
            } else if (c.target == kTargetFpga0) {
                written = update_txc_file(file, FpgaFlash::kFlash0, offset);
                flag = &usb_flag_fpga1;
            } else {
                written = update_c331_osd_font_file(file, offset, len);
            }
            if (written)
                *flag = 1;
            else
                failed = true;
        }
    }
    g_usb_grade_outcome = usb_file_count == 0 ? USB_NO_PACKAGE : failed ? USB_CHECK_FAILED : USB_FINISHED;
    if (usb_flag_app) {
        if (g_app_reset_flag.load())
            return;
        if (!Utils::install_new_app()) {
            g_usb_grade_outcome = USB_CHECK_FAILED;
            return;
        }
        msleep(10);
        Utils::system_mutex("sync");
        msleep(20);
        Utils::system_mutex("sync");
        msleep(1000);
        Utils::request_restart();
        return;
    }
    if (usb_flag_fpga1)
        reset_fpga_rst(0);
    if (usb_flag_font && c331_manage::p_c331_manage) {
        c331_manage* c = c331_manage::p_c331_manage;
        c->read_c331_font(c->spi_fd);
        c->update_font(c->spi_fd);
    }
}

int fpga_manage::update_muc_file(char* path, unsigned int offset, unsigned int len)
{
    if (!path || len == 0 || len > kFileBufSize || !fits(offset, len, fileSize(path)))
        return 0;
    // Its own buffer: the PC's file transfers use the shared one.
    std::vector<u8> data(len);
    if (!readAt(path, offset, data.data(), len)) {
        syncAndSettle();
        return 0;
    }
    const std::string target = board::path(std::string(kNewApp));
    // Written as a new file and read back whole: a FIFO at the name is
    // replaced, never waited on.
    bool written = false;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        written = board::write_whole(target, data.data(), len);
    }
    Utils::system_mutex("sync");
    msleep(10);
    bool same = written;
    if (same) {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        QByteArray back;
        same = board::read_whole(target, len, &back) == board::FileRead::whole && u32(back.size()) == len &&
               std::memcmp(back.constData(), data.data(), len) == 0;
    }
    if (!same) {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        std::remove(target.c_str());
        return 0;
    }
    return 1;
}

int fpga_manage::update_txc_file(char* path, unsigned char flash, unsigned int offset)
{
    u8 head[kImageHead];
    if (!path || !readAt(path, offset, head, sizeof head))
        return 0;
    const u32 len = le32(head + 31);
    // The image stays inside its child and the package, and below the
    // flash's records.
    if (len == 0 || len > kImageLimit || uint64_t(kImageHead) + len > g_childLen ||
        !fits(uint64_t(offset) + kImageHead, len, fileSize(path)))
        return 0;
    for (u32 a = 0; a < len;) {
        const bool block = a % kBlock == 0 && a + kBlock <= len;
        if (!p_drv->FPGA_SPI_FLASH_VBYONE_ERASE(flash, a / kSector, block ? 1 : 0, 1))
            return 0;
        a += block ? kBlock : kSector;
        msleep(1);
    }
    std::vector<u8> buffer(FpgaFlash::kWriteHeadroom + kBlock);
    for (u32 done = 0; done < len;) {
        const u32 n = len - done < kBlock ? len - done : kBlock;
        if (!readAt(path, uint64_t(offset) + kImageHead + done, buffer.data() + FpgaFlash::kWriteHeadroom, n)) {
            syncAndSettle();
            return 0;
        }
        msleep(1);
        if (!p_drv->FPGA_SPI_FLASH_VBYONE_WRITE(flash, done, buffer.data(), n))
            return 0;
        done += n;
    }
    return 1;
}

int fpga_manage::update_c331_osd_font_file(char* path, unsigned int offset, unsigned int len)
{
    c331_manage* c = c331_manage::p_c331_manage;
    if (!c || !path || !fits(offset, len, fileSize(path)))
        return 0;
    const FontArea* area = fontArea(path, offset, len);
    if (!area)
        return 0;
    for (u32 a = 0; a < len;) {
        const bool block = a % kBlock == 0 && a + kBlock <= len;
        if (!c->erase_flash(c->spi_fd, int((area->addr + a) / kSector), 1, block ? 1 : 0))
            return 0;
        a += block ? kBlock : kSector;
        msleep(1);
    }
    std::vector<u8> piece(kFontPiece);
    for (u32 done = 0; done < len;) {
        const u32 n = len - done < kFontPiece ? len - done : kFontPiece;
        if (!readAt(path, uint64_t(offset) + done, piece.data(), n))
            return 0;
        msleep(1);
        if (!c->write_flash(c->spi_fd, int(area->addr + done), int(n), reinterpret_cast<char*>(piece.data())))
            return 0;
        done += n;
    }
    return 1;
}
