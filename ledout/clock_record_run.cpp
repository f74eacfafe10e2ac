#include "ledout/clock_record_run.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>
#include <vector>

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>

#include "board/board.h"
#include "core/logMsg.h"
#include "core/logging.h"
#include "core/utils.h"
#include "ledout/fpga_drv.h"
#include "ledout/fpga_manage.h"

using namespace ClockRec;

CLOCK_RECORD_STATE g_clock_record;

namespace
{
CLOCK_RECORD_STATE& st()
{
    return g_clock_record;
}

u8 bcd(int v)
{
    return u8(((v / 10) % 10) << 4 | (v % 10));
}
bool bcd_valid(u8 b)
{
    return (b >> 4) <= 9 && (b & 0x0F) <= 9;
}

// The local calendar time, read under the lock of the clock-setting
// command. localtime_r takes the zone in once; Qt's clock reads the zone
// file again on every call, and the worker asks four times a second.
std::tm local_now()
{
    std::tm tm{};
    QMutexLocker lock(&Utils::_system_mutex);
    const std::time_t now = std::time(nullptr);
    if (now == std::time_t(-1) || !localtime_r(&now, &tm))
        zevlog::warnErrno(lcLedout(), "clock: cannot read the local time");
    return tm;
}
int from_bcd(u8 b)
{
    return (b >> 4) * 10 + (b & 0x0F);
}

void put_le(u8* p, u32 v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        p[i] = u8(v >> (8 * i));
}

// Minutes held by the step bytes of a header: 8 per full byte, 2, 4 or 6
// for the byte being filled.
u32 step_minutes(const u8* steps)
{
    u32 m = 0;
    for (u32 i = 0; i < kStepBytes; ++i) {
        const u8 b = steps[i];
        if (b == 0x55) {
            m += 8;
            continue;
        }
        m += b == 0xFD ? 2 : b == 0xF5 ? 4 : b == 0xD5 ? 6 : 0;
        break;
    }
    return m;
}
} // namespace

void clock_record_run::now_bcd(u8 out[7])
{
    const std::tm now = local_now();
    const int year = now.tm_year + 1900;
    out[0] = bcd(year % 100);
    out[1] = bcd(year / 100);
    out[2] = bcd(now.tm_mon + 1);
    out[3] = bcd(now.tm_mday);
    out[4] = bcd(now.tm_hour);
    out[5] = bcd(now.tm_min);
    out[6] = bcd(now.tm_sec);
}

int clock_record_run::ExFlash_RD(u8, u32 address, u32 length, u8* out)
{
    if (!drv)
        return 0;
    return drv->FPGA_SPI_FLASH_VBYONE_READ(2, address + kFlashOffset, length, out);
}

int clock_record_run::ExFlash_WR(u8, u32 address, const u8* data, u32 length)
{
    if (!drv || length == 0)
        return 0;
    // The program operation wants four spare bytes in front of the data.
    std::vector<u8> buf(4 + length);
    std::memcpy(buf.data() + 4, data, length);
    return drv->FPGA_SPI_FLASH_VBYONE_WRITE(2, address + kFlashOffset, buf.data(), length);
}

int clock_record_run::ExFlash_Erase_Format(u8, u32 sector, u8 kind, u32 count)
{
    if (!drv)
        return 0;
    return drv->FPGA_SPI_FLASH_VBYONE_ERASE(2, sector + kSectorOffset, kind, count);
}

void clock_record_run::copy_sector(u32 from, u32 to)
{
    std::vector<u8> buf(4096);
    if (ExFlash_RD(9, from * 4096, 4096, buf.data()) != 1)
        return;
    ExFlash_Erase_Format(9, to, 0, 1);
    ExFlash_WR(9, to * 4096, buf.data(), 4096);
}

int clock_record_run::check_record_sec()
{
    for (u32 g = 0; g < kGroups; ++g) {
        u8 used2 = 0xFF;
        if (ExFlash_RD(9, header2(g), 1, &used2) != 1)
            return -1;
        if (used2 == 0xAA)
            continue;
        u8 c1[2] = {0xFF, 0xFF};
        if (ExFlash_RD(9, header1(g), 2, c1) != 1)
            return -1;
        if (c1[0] == 0xAA) {
            // Copy 1 was completed before the power went: the group was
            // opened. Copy 2 is repaired and the group counts as used, so it
            // is closed and never opened a second time.
            copy_sector(kHeader1Sector, kHeader2Sector);
            return int(g + 1);
        }
        if (c1[1] != 0xFF)
            copy_sector(kHeader2Sector, kHeader1Sector);
        return int(g);
    }
    return int(kGroups);
}

void clock_record_run::next_entry()
{
    u32 idx = (st().entry_index & 0xFFFFF) + 1;
    u32 wrap = st().entry_index >> 20;
    if (idx >= kRingEntries) {
        idx = 0;
        wrap = (wrap + 1) & 0x0F;
    }
    if (idx % kEntriesPerSector == 0)
        ExFlash_Erase_Format(9, kRingSector + idx / kEntriesPerSector, 0, 1);
    st().entry_index = wrap << 20 | idx;
    st().entry_addr = kRing + kEntrySize * idx;
    st().ring_sector = u8(idx / kEntriesPerSector);
}

void clock_record_run::write_both(u32 group, u32 offset, const u8* data, u32 length)
{
    ExFlash_WR(9, header1(group) + offset, data, length);
    ExFlash_WR(9, header2(group) + offset, data, length);
}

void clock_record_run::read_failed()
{
    // Reported once per run of failures: the worker tries again every pass.
    if (!read_failed_)
        writeLogMsg(LOG_ERROR, "running-time record: flash read failed, record left as it is");
    read_failed_ = true;
}

void clock_record_run::clock_record_init()
{
    QMutexLocker lock(&lock_);
    // A read that failed says nothing about the flash: nothing may be
    // erased on it. The record stays uninitialised and the next pass of the
    // worker tries again.
    static const u8 kSig[3] = {0xAA, 0x5A, 0xA5};
    u8 sig[3] = {0, 0, 0};
    if (ExFlash_RD(9, kSignature, 3, sig) != 1)
        return read_failed();
    if (std::memcmp(sig, kSig, 3) != 0) {
        ExFlash_Erase_Format(9, kSignatureSector, 0, 1);
        ExFlash_WR(9, kSignature, kSig, 3);
    }
    const int n = check_record_sec();
    if (n < 0)
        return read_failed();
    if (n > 0) {
        u8 h1[kHeaderSize], h2[kHeaderSize];
        if (ExFlash_RD(9, header1(u32(n - 1)), kHeaderSize, h1) != 1 ||
            ExFlash_RD(9, header2(u32(n - 1)), kHeaderSize, h2) != 1)
            return read_failed();
        st().group_index = u8(n);
        // A power cut between the two copies' step writes leaves one step
        // fewer in copy 2: the fuller copy counts.
        const u32 m1 = step_minutes(h1 + kHdrSteps), m2 = step_minutes(h2 + kHdrSteps);
        const u32 m = m1 > m2 ? m1 : m2;
        const u8* h = h2[kHdrUsed] == 0xAA ? h2 : h1;
        const u32 earlier =
            u32(h[kHdrTotal]) | u32(h[kHdrTotal + 1]) << 8 | u32(h[kHdrTotal + 2]) << 16 | u32(h[kHdrTotal + 3]) << 24;
        st().total = earlier + m;
        const u32 idx = u32(h[kHdrEntry]) | u32(h[kHdrEntry + 1]) << 8 | u32(h[kHdrEntry + 2]) << 16;
        st().entry_index = idx;
        st().entry_addr = kRing + kEntrySize * ((idx & 0xFFFFF) % kRingEntries);
        u8 minutes[4];
        put_le(minutes, m, 4);
        ExFlash_WR(9, st().entry_addr + 8, minutes, 4);
        next_entry();
    } else {
        st().group_index = 0;
        ExFlash_Erase_Format(9, kHeader1Sector, 0, 1);
        ExFlash_Erase_Format(9, kHeader2Sector, 0, 1);
        ExFlash_Erase_Format(9, kRingSector, 0, 1);
        st().total = 0;
        st().entry_index = 0;
        st().entry_addr = kRing;
        st().ring_sector = 0;
    }
    st().minutes = 0;
    st().minutes2 = 0;
    st().minute_pair = 0;
    st().step_count = 0;
    st().group_pending = 1;
    now_bcd(st().start_time);
    st().minute_stamp = G_timeTicks.load();
    st().initialised = 1;
    read_failed_ = false;
}

void clock_record_run::new_record_group_init(u32 group)
{
    if (group >= kGroups) {
        u8 first[2] = {0, 0};
        ExFlash_RD(9, header1(0), 2, first);
        if (first[0] != 0xFF || first[1] != 0xFF)
            ExFlash_Erase_Format(9, kHeader1Sector, 0, 1);
        group = 0;
        ExFlash_Erase_Format(9, kHeader2Sector, 0, 1);
    }
    st().group_index = u8(group);
    st().header_addr1 = header1(group);
    st().header_addr2 = header2(group);
    u8 head[15];
    std::memcpy(head, st().start_time, 7);
    put_le(head + 7, st().total, 4);
    head[11] = 0xFF;
    put_le(head + 12, st().entry_index, 3);
    ExFlash_WR(9, header1(group) + kHdrStart, head, sizeof head);
    // A clock set while the group was pending left its mark in copy 1.
    u8 mark = 0xFF;
    ExFlash_RD(9, header1(group) + kHdrClockSet, 1, &mark);
    if (mark == 0x5A)
        st().clock_set = 0x5A;
    ExFlash_WR(9, header2(group) + kHdrStart, head, sizeof head);
    if (st().clock_set != 0xFF)
        ExFlash_WR(9, header2(group) + kHdrClockSet, &st().clock_set, 1);
}

void clock_record_run::open_group_entry()
{
    u8 entry[kEntrySize];
    std::memset(entry, 0xFF, sizeof entry);
    std::memcpy(entry + 1, st().start_time, 7);
    entry[12] = st().clock_set;
    put_le(entry + 13, st().entry_index, 3);
    ExFlash_WR(9, st().entry_addr + 1, entry + 1, 7);
    ExFlash_WR(9, st().entry_addr + 12, entry + 12, 4);
    const u8 used = 0xAA;
    ExFlash_WR(9, st().entry_addr, &used, 1);
}

void clock_record_run::clock_record_deal()
{
    QMutexLocker lock(&lock_);
    if (!st().initialised || Utils::getTimeSpace(st().minute_stamp) <= kMinuteTicks)
        return;
    ++st().minutes;
    ++st().minutes2;
    ++st().minute_pair;
    st().minute_stamp = G_timeTicks.load();
    if (st().minute_pair % 2)
        return;
    const u8 used = 0xAA;
    if (st().group_pending) {
        if (st().minutes < kFirstGroupMinutes)
            return;
        new_record_group_init(st().group_index);
        // The first 30 minutes are 15 steps.
        static const u8 kFirstSteps[4] = {0x55, 0x55, 0x55, 0xD5};
        write_both(st().group_index, kHdrPowerOnStart, st().start_time, 7);
        write_both(st().group_index, kHdrSteps, kFirstSteps, 4);
        write_both(st().group_index, kHdrUsed, &used, 1);
        open_group_entry();
        st().group_pending = 0;
        st().step_count = 15;
        st().last_code = 0xD5;
        st().step_offset = kHdrSteps + 3;
        return;
    }
    static const u8 kCodes[4] = {0xFD, 0xF5, 0xD5, 0x55};
    const u8 code = kCodes[st().step_count % 4];
    st().step_offset = kHdrSteps + st().step_count / 4;
    write_both(st().group_index, st().step_offset, &code, 1);
    st().last_code = code;
    ++st().step_count;
    if (st().step_count < kStepsPerGroup)
        return;
    // The group is full (48 hours): close it and open the next one.
    u8 minutes[4];
    put_le(minutes, kMinutesPerGroup, 4);
    ExFlash_WR(9, st().entry_addr + 8, minutes, 4);
    now_bcd(st().start_time);
    next_entry();
    st().total += kMinutesPerGroup;
    new_record_group_init(u32(st().group_index) + 1);
    write_both(st().group_index, kHdrUsed, &used, 1);
    open_group_entry();
    st().step_count = 0;
}

void clock_record_run::dealwith_record_timing()
{
    QMutexLocker lock(&lock_);
    st().clock_set = 0x5A;
    if (!st().initialised)
        return;
    const u8 mark = 0x5A;
    if (!st().group_pending) {
        ExFlash_WR(9, st().entry_addr + 12, &mark, 1);
        write_both(st().group_index, kHdrClockSet, &mark, 1);
        return;
    }
    u32 g = st().group_index;
    if (g >= kGroups) {
        // All eight groups are used: the next one is group 0 of a fresh
        // header sector.
        u8 first[2] = {0, 0};
        ExFlash_RD(9, header1(0), 2, first);
        if (first[0] != 0xFF || first[1] != 0xFF)
            ExFlash_Erase_Format(9, kHeader1Sector, 0, 1);
        g = 0;
    }
    ExFlash_WR(9, header1(g) + kHdrClockSet, &mark, 1);
}

CLOCK_RECORD_STATE clock_record_run::snapshot()
{
    QMutexLocker lock(&lock_);
    return g_clock_record;
}

int clock_record_run::set_system_clock_bcd(const u8 f[7])
{
    for (int i = 0; i < 7; ++i) {
        if (!bcd_valid(f[i]))
            return 0;
    }
    const int year = from_bcd(f[1]) * 100 + from_bcd(f[0]);
    const int month = from_bcd(f[2]), day = from_bcd(f[3]);
    const int hour = from_bcd(f[4]), minute = from_bcd(f[5]), second = from_bcd(f[6]);
    if (!QDate::isValid(year, month, day) || hour > 23 || minute > 59 || second > 59)
        return 0;
    const QString date = QString("%1-%2-%3").arg(year).arg(month).arg(day);
    const QString time = QString("%1:%2:%3").arg(hour).arg(minute).arg(second);
    return Utils::system_mutex("date \"" + date + " " + time + "\";hwclock -wu") == 0 ? 1 : 0;
}

void clock_record_run::get_file_list_path(QString folder)
{
    const QDir dir(board::path(folder));
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::NoSymLinks, QDir::Unsorted);
    int files = 0;
    for (const QFileInfo& e : entries)
        if (e.isFile())
            ++files;
    file_count = u8(files);
}

int clock_record_run::check_file_dir(QString folder)
{
    const QString real = board::path(folder);
    const QByteArray name = folder.toLocal8Bit();
    if (QFileInfo(real).isDir()) {
        if (debugOn())
            zevlog::debug(lcLedout(), "\n %s clock_record_run exists !\n", name.constData());
        dir_flag = 0;
        get_file_list_path(folder);
        return 0;
    }
    const bool made = QDir().mkdir(real);
    if (debugOn())
        zevlog::debug(lcLedout(), "\n  99999666666  dir_exist = %#x  \n", unsigned(made));
    if (!made) {
        if (debugOn())
            zevlog::debug(lcLedout(), "\n %s clock_record_run created error!\n", name.constData());
        dir_flag = 1;
        return 1;
    }
    if (debugOn())
        zevlog::debug(lcLedout(), "\n %s clock_record_run created sucess!\n", name.constData());
    dir_flag = 0;
    get_file_list_path(folder);
    return 0;
}

int clock_record_run::issetDefaultpara(QString path)
{
    if (dir_flag) {
        qCDebug(lcLedout) << "clock_record_run dir  issetDefaultpara unexists";
        return 1;
    }
    const QString real = board::path(path);
    if (QFileInfo::exists(real)) {
        qCDebug(lcLedout) << "clock_record_run file issetDefaultpara exists";
        file_flag = 0;
        return 1;
    }
    qCDebug(lcLedout) << "clock_record_run file issetDefaultpara unexists, now default !!";
    if (file_count != 0) {
        qCDebug(lcLedout) << "clock_record_run file issetDefautlpara exists, not need default !!";
        return 1;
    }
    const QByteArray name = QFile::encodeName(real);
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        FILE* f = std::fopen(name.constData(), "rb+");
        if (f) {
            std::fclose(f);
            file_flag = 1;
            qCDebug(lcLedout) << "clock_record_run file open error !!";
            return 1;
        }
        f = std::fopen(name.constData(), "wb+");
        if (!f) {
            file_flag = 1;
            qCDebug(lcLedout) << "clock_record_run file open error !!";
            return 1;
        }
        qCDebug(lcLedout) << "clock_record_run file open ok !!";
        // A buffer of its own: the shared transfer buffer may hold a file
        // the PC is sending.
        const std::vector<u8> blank(kDefaultFileSize, 0xFF);
        const bool written = std::fwrite(blank.data(), 1, blank.size(), f) == blank.size();
        const bool closed = std::fclose(f) == 0;
        if (!written || !closed) {
            // A short file would pass for a made one at the next call.
            std::remove(name.constData());
            file_flag = 1;
            writeLogMsg(LOG_ERROR, "clock_record_run: default file not written");
            return 1;
        }
    }
    Utils::system_mutex("sync");
    usleep(10000);
    file_flag = 0;
    return 0;
}

// The clock as the FPGA manager keeps and sets it.

int fpga_manage::IT8563WE_Get(TimeRealType* out)
{
    const std::tm now = local_now();
    out->year = u16(now.tm_year + 1900);
    out->month = u8(now.tm_mon + 1);
    out->day = u8(now.tm_mday);
    out->hour = u8(now.tm_hour);
    out->minute = u8(now.tm_min);
    out->second = u8(now.tm_sec);
    return 0;
}

void fpga_manage::Record_Time_Deal()
{
    if (!get_fpga_status() || Utils::getTimeSpace(g_change.record_time_stamp) < 26)
        return;
    IT8563WE_Get(&time_real);
    g_change.record_time_stamp = G_timeTicks.load();
}

void fpga_manage::Checktime(const unsigned char* page)
{
    if (clock_record_run::set_system_clock_bcd(page + 8))
        clock_record.dealwith_record_timing();
}

void fpga_manage::run_clock_record()
{
    if (!get_fpga_status())
        return;
    if (!g_clock_record.initialised)
        clock_record.clock_record_init();
    else
        clock_record.clock_record_deal();
}
