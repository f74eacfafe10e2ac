// The FPGA worker thread: one pass in fixed order, the FPGA's reset pulse,
// the V-by-One start-up, the FPGA initialisation with its RAM check and the
// output check that lights the screen.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include <QMutexLocker>

#include "chips/tarvosource.h"
#include "core/logMsg.h"
#include "core/logging.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "ledout/fpga_drv.h"
#include "ledout/fpga_manage.h"

namespace
{
// Passes of the wait after a reset (301 x 6 ticks, about 18 s).
constexpr u32 kStartDelay = 301;
constexpr u32 kResetPulseTicks = 50;
constexpr u8 kOutputRetryLimit = 101;
constexpr u32 kPeriodMin = 714286;
constexpr u32 kPeriodMax = 999999;

bool inputCheckValid(u8 v)
{
    return v >= 25 && v <= 48;
}
} // namespace

int fpga_manage::initialize_start()
{
    softinit();
    if (pthread_create(&thread_, nullptr, &fpga_manage::fpgamanageThread, this) != 0) {
        writeLogMsg(LOG_ERROR, "create check source thread failed");
        return 255;
    }
    pthread_detach(thread_);
    return 0;
}

void fpga_manage::softinit()
{
    g_change.restart(G_timeTicks.load());
    Power_ctrl_init();
    Version_to_RAM();
    PHY_status_to_RAM();
    const u8 marks[2] = {0xFF, 1};
    set_command_fields(28, marks, sizeof marks);
    MCU_RAM_EXTEND[49] = 159;
    MCU_RAM_EXTEND[50] = 31;
    g_send_para.job_word.store(u16(255 << 8));
    g_send_para.answer_flag = 0;
}

void FPGA_TIMER::restart(u32 now)
{
    for (std::atomic<u32>* stamp :
         {&input_lost_stamp, &search_stamp, &vbo_watch_stamp[0], &vbo_watch_stamp[1], &bri_task_stamp,
          &record_time_stamp, &power_wait_stamp, &power_task_stamp, &power_step_stamp, &power_picture_stamp})
        stamp->store(now);
    for (std::atomic<u32>* word :
         {&search_pass, &pulse_count, &power_state, &vmf_answer_state, &vmf_expect_group, &vmf_data_flag})
        word->store(0);
    vmf_address = 0;
    vmf_group = 0;
}

void* fpga_manage::fpgamanageThread(void* arg)
{
    auto* self = static_cast<fpga_manage*>(arg);
    for (;;) {
        if (g_usb_grade.load() != 0)
            self->usb_upgrade_manage_deal();
        else
            self->fpga_manage_deal();
        wait_fpga_worker(self->pass_pause());
    }
    return nullptr;
}

useconds_t fpga_manage::pass_pause() const
{
    if (awaiting_traffic())
        return kPassSleepUs;
    const bool steady = start[0].vbo_state.load() == 7 && start[0].out_state.load() == 18 && bri_set_flag.load() == 0 &&
                        output_status_flag.load() == 0 && g_set_led_para.load() == 0 && g_freeze_out.load() == 0;
    const useconds_t pause = steady ? kSteadyPassSleepUs : kIdlePassSleepUs;
    if (pc_cmd_valid.load() == 0)
        return pause;
    // Host traffic alone only holds the card work back: the next pass that
    // matters is the one after the hold ends (a new burst or a pass-through
    // wakes the worker sooner).
    const u32 passed = Utils::getTimeSpace(pc_cmd_time.load());
    const u32 left = passed > kHostHoldTicks ? 0 : kHostHoldTicks + 1 - passed;
    return std::max(kPassSleepUs, std::min(pause, useconds_t(left) * 10000u));
}

bool fpga_manage::awaiting_traffic() const
{
    return g_usb_grade.load() != 0 || g_send_para.job() != JOB_NONE || g_passby_trans_port.load() != 255;
}

bool fpga_manage::source_up() const
{
    tarvosource* source = tarvosource::p_tarvo_source;
    return source && source->source_state.load() == 2;
}

void fpga_manage::fpga_manage_deal()
{
    check_fpga_rst();
    const bool inputsUp = source_up();
    if (inputsUp)
        power_up_fpga_start(1, 0);
    if (inputsUp) {
        FpgaServiceLock lock(this);
        reg_IRQ_Dealwith(0, 0);
    }
    if (inputsUp)
        power_up_check_fpga_status(0);
    if (bri_set_flag.load() && set_fpga_bri_val() == 1) {
        QMutexLocker lock(&Utils::_bri_set_mutex);
        bri_set_flag = 0;
    }
    if (g_set_led_para.load() || g_freeze_out.load())
        set_led_para_deal();
    Record_Time_Deal();
    switch (g_send_para.job()) {
    case JOB_SMART_MAPPING:
        SmartMapping_deal();
        break;
    case JOB_SCAN_LOAD:
        rcv_recovery_check_deal(RCV_SCAN_LOAD);
        break;
    case JOB_SAVE_TO_CARDS:
        save_para_deal();
        break;
    case JOB_MAPPING_SWITCH:
        mapping_enable_deal();
        break;
    case JOB_RCV_CHECK:
        rcv_recovery_check_deal(RCV_CHECK);
        break;
    case JOB_RCV_RECOVERY:
        rcv_recovery_check_deal(RCV_RECOVERY);
        break;
    default:
        Check_search_card();
        break;
    }
    if (output_status_flag.load() == 1 && set_output_status() == 1) {
        QMutexLocker lock(&Utils::_system_mutex);
        output_status_flag = 0;
    }
    run_clock_record();
}

void fpga_manage::Check_search_card()
{
    if (pc_cmd_valid.load() == 0 && get_fpga_status()) {
        check_vbo_status(0);
        Search_Card_Cmd();
        Extension_function();
        check_wlanonline_state();
        return;
    }
    // Host traffic holds the card work back until 0.8 s after its last frame.
    if (Utils::getTimeSpace(pc_cmd_time.load()) > kHostHoldTicks) {
        pc_cmd_valid = 0;
        search_port_mask = 0;
        passby_wait = 0;
    }
}

void fpga_manage::Brightness_task_run()
{
    Search_Card_task_run();
}

void fpga_manage::Search_Card_task_run()
{
    // The link threads read the receive pages under the same lock.
    FpgaServiceLock lock(this);
    reg_IRQ_Dealwith(0, 0);
}

int fpga_manage::set_output_status()
{
    if (!get_fpga_status())
        return 0;
    SCREEN_fpgactrl_status(ZevRamPara::locked16(Img::kBlackout) == 0 ? 1 : 0);
    return 1;
}

int fpga_manage::set_fpga_bri_val()
{
    if (!get_fpga_status())
        return 0;
    Brightness_hand_dealwith(1);
    return 1;
}

void fpga_manage::reset_fpga_rst(unsigned char fpga)
{
    if (fpga > 1)
        return;
    fpga_drv::set_line(fpga == 0 ? FpgaPad::RST_FPGA0 : FpgaPad::RST_FPGA1, false);
    start[fpga].reset_stamp = G_timeTicks.load();
    start[fpga].reset_req = 1;
}

void fpga_manage::check_fpga_rst()
{
    FPGA_START& s = start[0];
    if (!s.reset_req.load() || Utils::getTimeSpace(s.reset_stamp.load()) <= kResetPulseTicks)
        return;
    fpga_drv::set_line(FpgaPad::RST_FPGA0, true);
    {
        FpgaRegLock lock(this, 0);
        set_shadow_reg(0, FpgaReg::kState, 0);
        set_shadow_reg(0, FpgaReg::kInputCheck, 0);
    }
    s.out_state = 0;
    s.vbo_state = 0;
    s.down_req = 0;
    s.start_delay = 0;
    s.err_count = 0;
    g_change.input_lost_stamp = G_timeTicks.load();
    s.reset_req = 0;
}

void fpga_manage::mark_fpga_down(unsigned char fpga)
{
    if (fpga > 1)
        return;
    {
        FpgaRegLock lock(this, fpga);
        set_shadow_reg(fpga, FpgaReg::kState, 0);
    }
    g_change.input_lost_stamp = G_timeTicks.load();
    // The state machines belong to the worker: a link thread's service only
    // asks, so no step of the worker can overwrite the return to 0.
    start[fpga].down_req = 1;
}

void fpga_manage::power_up_fpga_start(unsigned char check, unsigned char fpga)
{
    if (fpga > 1)
        return;
    FPGA_START& s = start[fpga];
    const int n = fpga + 1;
    if (s.down_req.exchange(0)) {
        // Left at 18, the output check would never light the screen again
        // once the V-by-One start-up has switched it off for the returning
        // input.
        FpgaRegLock lock(this, fpga);
        set_shadow_reg(fpga, FpgaReg::kState, 0);
        s.vbo_state = 0;
        s.out_state = 0;
    }
    const bool up = shadow_reg(fpga, FpgaReg::kState) == 3;
    if (check && up && s.vbo_state.load() == 7)
        return;
    // Nothing to step while the reset pulse is on.
    if (s.reset_req.load() || Utils::getTimeSpace(s.vbo_stamp) <= 5)
        return;
    s.vbo_stamp = G_timeTicks.load();
    if (s.start_delay < kStartDelay) {
        ++s.start_delay;
        return;
    }
    // State 0 always begins with a fresh read of the input check: its shadow
    // may have been refreshed by a PC read during the start delay, and an
    // in-range value there must not strand the start-up in state 0. Done
    // FPGAs marked down without a reset start over the same way.
    const u8 state = s.vbo_state.load();
    if (state == 0 || (state == 7 && !up) || !inputCheckValid(shadow_reg(fpga, FpgaReg::kInputCheck))) {
        for (u8 r : {u8(31), u8(30), u8(29), u8(28), u8(7)})
            read_from_register(r, fpga);
        s.vbo_state = 1;
        s.err_count = 0;
        s.out_retry = 0;
        g_fpga_lcd_on = 0;
        return;
    }
    switch (state) {
    case 1:
        if (debugOn())
            zevlog::debug(lcLedout(), "\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S1++++++++++++++++++++++++ !!!\n", n);
        write_to_register(FpgaReg::kVboControl, 0x40, 0x40, fpga);
        s.vbo_state = 2;
        break;
    case 2:
        read_from_register(FpgaReg::kStatus, fpga);
        if (!(shadow_reg(fpga, FpgaReg::kStatus) & 0x08)) {
            if (debugOn())
                zevlog::debug(lcLedout(), "\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S2++++++++++++++++++++++++ !!!\n",
                              n);
            s.vbo_state = 3;
            break;
        }
        if (debugOn())
            zevlog::debug(lcLedout(), "\n +++++++++++++++++FPGA[[%d]]_VBO_INIT_S2 error!!!++++++++++++++++\n", n);
        if (++s.err_count < 5)
            break;
        s.err_count = 0;
        if (++s.reset_count < 3) {
            if (debugOn())
                zevlog::debug(lcLedout(), "\n +++++++++++++++++FPGA[%d]_VBO_INIT_S2 reset!!!++++++++++++++++\n", n);
            reset_fpga_rst(fpga);
        } else {
            s.vbo_state = 3;
        }
        break;
    case 3:
        if (debugOn())
            zevlog::debug(lcLedout(), "\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S3++++++++++++++++++++++++ !!!\n", n);
        write_to_register(FpgaReg::kVboControl, 0x80, 0x80, fpga);
        s.vbo_state = 5;
        s.err_count = 0;
        s.reset_count = 0;
        break;
    case 5:
        read_from_register(FpgaReg::kStatus, fpga);
        if (shadow_reg(fpga, FpgaReg::kStatus) & 0x10) {
            if (debugOn())
                zevlog::debug(lcLedout(), "\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S5++++++++++++++++++++++++ !!!\n",
                              n);
            s.vbo_state = 6;
            s.reset_count = 0;
            write_to_register(FpgaReg::kHandshake, 0x01, 0x00, fpga);
            break;
        }
        if (debugOn())
            zevlog::debug(lcLedout(), "\n +++++++++++++++++FPGA[%d]_VBO_INIT_S5 error!!!++++++++++++++++\n", n);
        // A lock that does not come is waited for a few passes more, then
        // the start-up goes on without it; a reset here would only add
        // another start delay.
        if (++s.err_count <= 5)
            break;
        if (++s.reset_count >= 3)
            s.vbo_state = 6;
        break;
    case 6:
        if (debugOn())
            zevlog::debug(lcLedout(), "\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S6++++++++++++++++++++++++ !!!\n", n);
        write_to_register(FpgaReg::kHandshake, 0x01, 0x01, fpga);
        {
            FpgaRegLock lock(this, fpga);
            set_shadow_reg(fpga, FpgaReg::kState, 3);
        }
        fpgainit(fpga);
        SCREEN_fpgactrl_status2(0, fpga);
        s.vbo_state = 7;
        s.out_stamp = G_timeTicks.load();
        break;
    default:
        break;
    }
}

void fpga_manage::fpgainit(unsigned char fpga)
{
    if (fpga > 1)
        return;
    write_to_register(FpgaReg::kStatus, 0x20, 0x00, fpga);
    record_bright_change();
    record_onoff_time(u8(fpga + 2));
    for (int i = 0; i < 3; ++i)
        read_from_register(21, fpga);

    // The stored page and the screen origin are read before the page's lock
    // is taken: the page changes in one step, and nobody waits on the flash
    // or the image for it.
    u8 stored[FpgaRam::kPageSize];
    u8 marker = 0;
    const bool haveStored =
        p_drv->FPGA_SPI_FLASH_VBYONE_READ(u8(fpga + 2), FpgaRam::kStoredParaAddress, 1, &marker) && marker == 0xAA &&
        p_drv->FPGA_SPI_FLASH_VBYONE_READ(u8(fpga + 2), FpgaRam::kStoredParaAddress + 1, FpgaRam::kPageSize, stored);
    u16 ox, oy;
    {
        C331Lock lock;
        ox = ZevRamPara::img16(Img::kOriginX);
        oy = ZevRamPara::img16(Img::kOriginY);
    }
    {
        FpgaParaLock lock;
        u8* page = MCU_RAM_PARA_func[fpga];
        if (haveStored) {
            std::memcpy(page, stored, FpgaRam::kPageSize);
            std::memset(page + 96, 0, 32);
            Q64_back_mcu_set_net_para(fpga);
            if (fpga == 0)
                place_ports(fpga, ox, oy);
        } else {
            std::memset(page, 0, FpgaRam::kPageSize);
            std::memcpy(page, RAM1, sizeof RAM1);
            static const u8 kEntry[4] = {0x76, 0x05, 0xD2, 0x01};
            for (int e = 0; e < 16; ++e)
                std::memcpy(page + 296 + 4 * e, kEntry, 4);
            page[496] = 0;
            page[498] = 0;
            eth_param_init(1, fpga);
            Q64_back_mcu_set_net_para(fpga);
        }
        for (int p = 0; p < 16; ++p)
            page[276 + p] = u8(fpga * 16 + 1 + p);
        write_fpga_ram(page, 0, FpgaRam::kPageSize, FpgaRam::kParaPage, fpga);
    }
    update_eth_state(fpga);
    FPGA_to_RAM(fpga);
    write_to_register(FpgaReg::kCommand, 0x08, 0x08, fpga);

    const bool ok = ram_check(fpga);
    start[fpga].ram_check = ok ? 1 : 0;
    if (!ok) {
        reset_fpga_rst(fpga);
        if (debugOn())
            zevlog::debug(lcLedout(), "\n check fpga%d ram error ,start to reset .... \n", fpga + 1);
    } else if (debugOn()) {
        zevlog::debug(lcLedout(), "\n check fpga%d ram ok  .... \n", fpga + 1);
    }
}

bool fpga_manage::ram_check(unsigned char fpga)
{
    u8 page[FpgaRam::kPageSize];
    read_para_page(fpga, 0, page, sizeof page);
    auto wordMatches = [&](unsigned address) {
        u8 got[2];
        return read_fpga_ram(got, address, 2, FpgaRam::kParaPage, fpga) && std::memcmp(got, page + address, 2) == 0;
    };
    for (u8 port = 0; port < 16; ++port) {
        unsigned short addr[4];
        get_eth_param_addr(port, &addr[0], &addr[1], &addr[2], &addr[3]);
        for (unsigned short a : addr)
            if (!wordMatches(a))
                return false;
    }
    for (unsigned a = 296; a < 360; a += 2)
        if (!wordMatches(a))
            return false;
    return true;
}

void fpga_manage::power_up_check_fpga_status(unsigned char fpga)
{
    if (fpga > 1)
        return;
    FPGA_START& s = start[fpga];
    auto reg = [fpga](u8 r) { return shadow_reg(fpga, r); };
    if (reg(FpgaReg::kState) != 3 || s.vbo_state.load() != 7 || s.reset_req.load())
        return;
    const u32 now = G_timeTicks.load();
    const u32 since = Utils::getTimeSpace(s.out_stamp);
    switch (s.out_state.load()) {
    case 0: {
        if (since <= 10)
            break;
        s.out_stamp = now;
        read_from_register(FpgaReg::kStatus, fpga);
        if (reg(FpgaReg::kStatus) & 0x80) {
            s.out_state = 7;
            s.out_retry = 0;
            s.out_retry_limit = 0;
            break;
        }
        ++s.out_retry;
        if (debugOn())
            zevlog::debug(lcLedout(), "\n fpga%d************%d\n", fpga, s.out_retry);
        if (s.out_retry >= 20u * (s.out_retry_limit + 1u)) {
            s.out_retry = 0;
            if (s.out_retry_limit >= kOutputRetryLimit) {
                s.out_state = 7;
            } else {
                ++s.out_retry_limit;
                reset_fpga_rst(fpga);
            }
        }
        break;
    }
    case 7: {
        if (since <= 10)
            break;
        s.out_stamp = now;
        u8 m[8] = {0};
        if (!read_fpga_ram(m, 116, 8, FpgaRam::kParaPage, fpga))
            break;
        const u32 width = ZevRamPara::get16(m, 0);
        const u32 height = ZevRamPara::get16(m, 2);
        const u32 period = u32(m[4]) | (u32(m[5]) << 8) | (u32(m[6]) << 16) | (u32(m[7]) << 24);
        u32 ledW, ledH;
        {
            C331Lock lock;
            ledW = ZevRamPara::img16(Img::kLedWidth);
            ledH = ZevRamPara::img16(Img::kLedHeight);
        }
        if (2 * width >= ledW && 2 * height >= ledH && period >= kPeriodMin && period <= kPeriodMax) {
            write_to_register(FpgaReg::kCommand, 0x01, 0x01, fpga);
            s.out_state = 1;
            if (debugOn())
                zevlog::debug(lcLedout(), "\nfpag%d.......ok(%u,%u,%u)  123................\n", fpga, width, height,
                              period);
        } else if (debugOn()) {
            zevlog::debug(lcLedout(), "\nfpag%d.......error(%u,%u,%u)................\n", fpga, width, height, period);
        }
        break;
    }
    case 1:
        if (since <= 30)
            break;
        write_to_register(FpgaReg::kOutputCheck, 0x01, 0x01, fpga);
        s.out_state = 8;
        write_to_register(FpgaReg::kHandshake, 0x02, 0x02, fpga);
        s.out_stamp = now;
        break;
    case 8:
        if (since <= 5)
            break;
        read_from_register(FpgaReg::kHandshake, fpga);
        s.out_state = (reg(FpgaReg::kHandshake) & 0x02) ? 2 : 1;
        s.out_stamp = now;
        break;
    case 2:
        if (since < 11)
            break;
        read_from_register(FpgaReg::kOutputCheck, fpga);
        s.ram_reset = 1;
        s.out_state = 9;
        s.out_stamp = now;
        break;
    case 9:
        write_to_register(FpgaReg::kHandshake, 0x02, 0x00, fpga);
        s.out_state = 10;
        s.out_stamp2 = now;
        break;
    case 10:
        if (Utils::getTimeSpace(s.out_stamp2) < 6)
            break;
        read_from_register(FpgaReg::kHandshake, fpga);
        if (reg(FpgaReg::kHandshake) & 0x02) {
            s.out_state = 9;
        } else {
            s.out_state = 3;
            if (debugOn())
                zevlog::debug(lcLedout(),
                              "\n --------------------check_fpga%d_singal_reset  0011------------------------- \n",
                              fpga);
        }
        break;
    case 3:
        if (!s.ram_reset)
            break;
        if (debugOn())
            zevlog::debug(lcLedout(), "\n --------------------RAM PARA reset!!!!!!---------------------- ");
        s.ram_reset = 0;
        s.out_state = 14;
        s.out_stamp = now;
        break;
    case 14:
        if (since <= 10)
            break;
        write_to_register(FpgaReg::kHandshake, 0x08, 0x00, fpga);
        s.out_state = 15;
        write_to_register(FpgaReg::kCommand, 0x01, 0x01, fpga);
        s.out_stamp = now;
        break;
    case 15:
        if (since <= 30)
            break;
        s.out_state = 16;
        Brightness_hand_dealwith(1);
        write_to_register(FpgaReg::kVboControl, 0x20, 0x20, fpga);
        if (debugOn())
            zevlog::debug(lcLedout(), "\n fpga%d over to enable lcd\n", fpga);
        g_fpga_lcd_on = 1;
        ZevRamPara::test_signal(12);
        if (debugOn())
            zevlog::debug(lcLedout(), "\n power_up_check_fpga_status start to OK phy (%d)!!!\n", fpga);
        s.out_stamp = now;
        break;
    case 16:
        if (g_source_online.load() != 2 || Utils::getTimeSpace(s.out_stamp2) < 21)
            break;
        write_to_register(FpgaReg::kCommand, 0x01, 0x01, fpga);
        s.out_state = 18;
        if (debugOn())
            zevlog::debug(lcLedout(), "\n fpga%d last.... \n", fpga);
        SCREEN_fpgactrl_status2(1, fpga);
        if (debugOn())
            zevlog::debug(lcLedout(), "\n fpga%d start to light on \n", fpga);
        break;
    default:
        break;
    }
}

namespace
{
// Screen commands: the register bits each one sets or clears. Command 9
// reads the status register; 10 and 11 exist only in the start-up form.
struct ScreenCommand {
    bool used;
    u8 reg;
    u8 mask;
    u8 value;
};
constexpr u8 kScreenRead = 9;
constexpr u8 kScreenStartupOnly = 10;
constexpr ScreenCommand kScreenCommands[] = {
    {true, FpgaReg::kScreen, 0x04, 0x04},
    {true, FpgaReg::kScreen, 0x04, 0x00},
    {true, FpgaReg::kScreen, 0x02, 0x02},
    {true, FpgaReg::kScreen, 0x02, 0x00},
    {true, FpgaReg::kVboControl, 0x20, 0x20},
    {true, FpgaReg::kVboControl, 0x20, 0x00},
    {false, 0, 0, 0},
    {true, FpgaReg::kHandshake, 0x01, 0x00},
    {true, FpgaReg::kHandshake, 0x01, 0x01},
    {true, FpgaReg::kStatus, 0x00, 0x00},
    {true, FpgaReg::kHandshake, 0x08, 0x08},
    {true, FpgaReg::kHandshake, 0x08, 0x00},
};
} // namespace

void fpga_manage::SCREEN_fpgactrl_status(unsigned char SCREEN_status)
{
    if (SCREEN_status >= kScreenStartupOnly || !kScreenCommands[SCREEN_status].used)
        return;
    const ScreenCommand& c = kScreenCommands[SCREEN_status];
    if (SCREEN_status == kScreenRead)
        read_from_register(c.reg, 0);
    else
        write_to_register(c.reg, c.mask, c.value, 0);
}

void fpga_manage::SCREEN_fpgactrl_status2(unsigned char SCREEN_status, unsigned char fpga)
{
    if (SCREEN_status >= sizeof kScreenCommands / sizeof kScreenCommands[0] || !kScreenCommands[SCREEN_status].used)
        return;
    const ScreenCommand& c = kScreenCommands[SCREEN_status];
    if (SCREEN_status == kScreenRead)
        read_from_register(c.reg, fpga);
    else if (SCREEN_status <= 1)
        write_to_0x00_register(c.reg, c.mask, c.value, fpga);
    else
        write_to_register(c.reg, c.mask, c.value, fpga);
}
