#include "chips/tarvosource.h"

#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <thread>
#include <unistd.h>

#include <QMutexLocker>

#include "chips/drv_i2c.h"
#include "chips/edid_default.h"
#include "chips/iTE6805_DRV.h"
#include "chips/sii9022.h"
#include "chips/tarvo_it6602.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "video/c331_manage.h"

tarvosource* tarvosource::p_tarvo_source = nullptr;
u8 edid_ram_table[1536];
u8 edid_ram_table_from[6];

namespace
{
// Request word bits: 0..5 pulse the hot-plug of that source, 6 serve every
// EDID again.
constexpr u8 kReqServeAll = 0x40;
constexpr int kEepromRetries = 20; // write cycle of up to 5 ms, polled each ms
constexpr u8 kAllSources = 0x3F;
} // namespace

tarvosource* tarvosource::pInstance()
{
    if (!p_tarvo_source)
        p_tarvo_source = new tarvosource();
    return p_tarvo_source;
}

int tarvosource::initialize()
{
    if (Drv_I2C0::pInstance()->open_bus() != 0)
        return 255;
    std::thread(checksourceThread, this).detach();
    return 0;
}

void tarvosource::checksourceThread(tarvosource* self)
{
    pthread_setname_np(pthread_self(), "checksource");
    writeLogMsg(LOG_BANNER, "source check thread started");
    self->bring_up();
    for (;;) {
        self->checksource_step();
        usleep(kIdleSleepUs);
    }
}

void tarvosource::bring_up()
{
    Drv_I2C0* bus = Drv_I2C0::p_i2c0;
    if (bus) {
        std::lock_guard<std::recursive_mutex> lock(bus->bus_mutex);
        if (!bus->write_reg8(kExpanderAddr, kExpanderConfig, 0x00) ||
            !bus->write_reg8(kExpanderAddr, kExpanderOutput, 0))
            writeLogMsg(LOG_ERROR, "hot-plug expander does not answer");
        hpd_bits_ = 0;
    }
    for (int s = 0; s < kSourceCount; ++s) {
        if (!serve_edid(s))
            writeLogMsg(LOG_ERROR, "EDID of source " + std::to_string(s) + " not written");
        set_hpd(s, true);
    }
    SiI9022* tx = SiI9022::pInstance();
    tx->check_9022(0);
    tx->check_9022(1);
    source_state = 2;
}

void tarvosource::request_edid(int source)
{
    if (source >= 0 && source < kSourceCount)
        edid_requests_.fetch_or(u8(1u << source));
}

void tarvosource::sourcecheck()
{
    // Taken and cleared in one step: the PC may write it at any time.
    u8 req = __atomic_exchange_n(&ZevRamPara::device.reg[0], u8(0), __ATOMIC_ACQ_REL);
    if (reg_update11.exchange(0) == 1)
        req |= kReqServeAll;
    if (req & kReqServeAll) {
        for (bool& v : served_valid_)
            v = false;
        edid_requests_.fetch_or(kAllSources);
    }
    for (int s = 0; s < kSourceCount; ++s)
        if (req & (1u << s)) {
            set_hpd(s, false);
            usleep(hpd_low_ms * 1000);
            set_hpd(s, true);
        }
}

void tarvosource::checksource_step()
{
    sourcecheck();
    u8 req = edid_requests_.exchange(0);
    for (int s = 0; s < kSourceCount; ++s)
        if ((req & (1u << s)) && !serve_edid(s))
            writeLogMsg(LOG_ERROR, "EDID of source " + std::to_string(s) + " not written");
    copy_timings();
}

void tarvosource::copy_timings()
{
    u8 now[6 * kSourceCount];
    for (int s = 0; s < kSourceCount; ++s) {
        SOURCE_TIMING t;
        // A receiver that does not answer reports no signal.
        if (s < 4)
            tarvo_it6602::read_timing(s, &t);
        else
            iTE6805_DRV::read_timing(s, &t);
        std::memcpy(now + 6 * s, &t, 6);
    }
    bool changed;
    {
        QMutexLocker a(&ZevRamPara::mutex);
        QMutexLocker b(&Utils::_source_hdminfo_mutex);
        u8* dst = ZevRamPara::p_zevrampara_config + Img::kSourceTiming;
        changed = std::memcmp(dst, now, sizeof now) != 0;
        if (changed)
            std::memcpy(dst, now, sizeof now);
    }
    if (!copied_) {
        copied_ = true;
        g_source_online = 2;
    }
    if (changed) {
        ZevRamPara::test_signal(12);
        c331_manage::wake();
    }
}

int tarvosource::set_hpd(int source, bool high)
{
    Drv_I2C0* bus = Drv_I2C0::p_i2c0;
    if (!bus || source < 0 || source >= kSourceCount)
        return 0;
    std::lock_guard<std::recursive_mutex> lock(bus->bus_mutex);
    u8 bits = high ? u8(hpd_bits_ | (1u << source)) : u8(hpd_bits_ & ~(1u << source));
    if (!bus->write_reg8(kExpanderAddr, kExpanderOutput, bits))
        return 0;
    hpd_bits_ = bits;
    return 1;
}

int tarvosource::write_eeprom(int source, const u8* edid)
{
    Drv_I2C0* bus = Drv_I2C0::p_i2c0;
    std::lock_guard<std::recursive_mutex> lock(bus->bus_mutex);
    if (!bus->select_channel(source))
        return 0;
    for (int off = 0; off < kEdidSize; off += kEepromPage) {
        if (!bus->write_reg(kEepromAddr, u8(off), edid + off, kEepromPage))
            return 0;
        // The EEPROM does not acknowledge while it writes the page.
        int tries = 0;
        u8 probe;
        while (!bus->read_reg8(kEepromAddr, u8(off), &probe)) {
            if (++tries >= kEepromRetries)
                return 0;
            usleep(1000);
        }
    }
    u8 back[kEdidSize];
    return bus->read_reg(kEepromAddr, 0, back, kEdidSize) && std::memcmp(back, edid, kEdidSize) == 0;
}

bool tarvosource::read_eeprom(int source, u8* out)
{
    Drv_I2C0* bus = Drv_I2C0::p_i2c0;
    std::lock_guard<std::recursive_mutex> lock(bus->bus_mutex);
    return bus->select_channel(source) && bus->read_reg(kEepromAddr, 0, out, kEdidSize);
}

int tarvosource::serve_edid(int source)
{
    if (source < 0 || source >= kSourceCount || !Drv_I2C0::p_i2c0)
        return 0;
    u8 edid[kEdidSize];
    bool fromTable;
    EDID_PARA record{};
    {
        // The PC writes the RAM table and the records under the apply mutex.
        C331Lock lock;
        fromTable = edid_ram_table_from[source] == 1;
        if (fromTable)
            std::memcpy(edid, edid_ram_table + kEdidSize * source, kEdidSize);
        else
            record = ZevRamPara::edid_para(ZevRamPara::p_zevrampara_config, source);
    }
    if (!fromTable)
        build_default_edid(source, record.width, record.height, record.rate, edid);
    if (served_valid_[source] && std::memcmp(served_[source], edid, kEdidSize) == 0)
        return 1;
    // What the EEPROM holds survives a restart: it is written only when it
    // differs, which also spares the source a hot-plug pulse.
    u8 held[kEdidSize];
    if (read_eeprom(source, held) && std::memcmp(held, edid, kEdidSize) == 0) {
        std::memcpy(served_[source], edid, kEdidSize);
        served_valid_[source] = true;
        return 1;
    }
    // The source reads the EDID again when hot-plug rises.
    bool wasHigh = hpd_bits_ & (1u << source);
    set_hpd(source, false);
    if (wasHigh)
        usleep(hpd_low_ms * 1000);
    int ok = write_eeprom(source, edid);
    set_hpd(source, true);
    served_valid_[source] = ok;
    if (ok)
        std::memcpy(served_[source], edid, kEdidSize);
    return ok;
}
