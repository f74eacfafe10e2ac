// Power control through the multifunction card: while window 0, the only
// window shown, has no picture the card is told to stop its outputs, and
// to start them again when the picture returns. The worker does not run it;
// its state is kept and reset by the on/off times.
#include <cstring>

#include "core/utils.h"
#include "core/zevrampara.h"
#include "ledout/fpga_manage.h"
#include "ledout/fpga_manage_jobs.h"

using namespace FpgaCards;

void fpga_manage::Power_ctrl_init()
{
    power_off = power_wait = power_armed = power_picture = power_stop_pending = 0;
    power_port = 0;
    power_fpga = 0;
    power_step = 1;
    g_change.power_state = 0;
    g_change.power_wait_stamp = 0;
    g_change.power_task_stamp = 0;
    g_change.power_step_stamp = 0;
    g_change.power_picture_stamp = 0;
}

void fpga_manage::Power_ctrl_reset()
{
    power_wait = 0;
    power_armed = 1;
    power_step = 1;
    g_change.power_state = 0;
    g_change.power_wait_stamp = 0;
    g_change.power_task_stamp = 0;
    g_change.power_step_stamp = 0;
}

void fpga_manage::Power_ctrl_deal()
{
    if (!get_fpga_status())
        return;
    u8 image[Img::kSize];
    {
        ImageReadLock lock;
        std::memcpy(image, ZevRamPara::p_zevrampara_config, sizeof image);
    }
    for (int layer = 1; layer <= 5; ++layer)
        if (ZevRamPara::get16(image, ZevRamPara::layerOffset(layer)) != 0)
            return;
    const u32 now = G_timeTicks.load();
    if (Utils::getTimeSpace(g_change.power_picture_stamp) > 100) {
        short isCrop = 0;
        char cropIndex = 0;
        const u8 src = ZevRamPara::ZevGetImageSource(image, 0, &isCrop, &cropIndex, 0);
        u8 picture = 0;
        if (src < kSourceCount) {
            const int t = Img::kSourceTiming + 6 * src;
            picture = ZevRamPara::get16(image, t) && ZevRamPara::get16(image, t + 2) && image[t + 4] ? 1 : 0;
        }
        if (!power_picture && picture)
            Power_ctrl_reset();
        power_picture = picture;
        g_change.power_picture_stamp = now;
    }
    if (Utils::getTimeSpace(g_change.power_task_stamp) > 1000) {
        Power_ctrl_task();
        g_change.power_task_stamp = now;
    }
    if (power_picture) {
        if (power_stop_pending) {
            power_off = 1;
            power_stop_pending = 0;
        }
        if (power_off == 1)
            eth_data_send_start();
    } else if (power_armed && !power_off) {
        if (!power_wait) {
            power_wait = 1;
            g_change.power_wait_stamp = now;
        } else if (g_change.power_state == 1 && Utils::getTimeSpace(g_change.power_wait_stamp) > 1000) {
            power_stop_pending = 1;
            eth_data_send_stop();
        }
    }
}

void fpga_manage::Power_ctrl_task()
{
    Power_check_VMF();
    Power_read_VMF_value();
    Power_ctrl_filter();
}

void fpga_manage::Power_check_VMF()
{
    const int p = vmf::port();
    power_port = p < 0 ? 252 : u8(p);
    power_fpga = 0;
    g_change.vmf_address = p < 0 ? 0 : vmf::address(unsigned(p));
    g_change.vmf_group = p < 0 ? 0 : u8(p / 4 + 1);
}

void fpga_manage::Power_read_VMF_value()
{
    if (!g_change.vmf_address)
        return;
    Send_read_VMF_RAM0_data_cmd();
    Power_VMF_run();
}

void fpga_manage::Send_read_VMF_RAM0_data_cmd()
{
    u8 b[sizeof SEND_READ_VMF_RAM0_CMD];
    std::memcpy(b, SEND_READ_VMF_RAM0_CMD, sizeof b);
    b[0] = u8(g_change.vmf_address);
    b[1] = u8(g_change.vmf_address >> 8);
    b[sizeof b - 1] = Utils::BCC(b, sizeof b - 1);
    vmf_answer_flag = 0;
    Send_to_port(b, sizeof b, power_port, power_fpga);
}

void fpga_manage::Power_VMF_run()
{
    g_change.vmf_answer_state = 0;
    g_change.vmf_data_flag = 0;
    g_change.vmf_expect_group = vmf::kGroupReadRam;
    vmf::wait(this, power_fpga, [this] { VMF_RAM0_data_back_result(power_fpga); });
}

void fpga_manage::wait_VMF_result()
{
    if (!g_change.vmf_address)
        return;
    g_change.vmf_answer_state = 0;
    g_change.vmf_data_flag = 0;
    g_change.vmf_expect_group = vmf::kGroupWriteReg;
    vmf::wait(this, power_fpga, [this] { VMF_reg_back_result(power_fpga); });
}

void fpga_manage::VMF_RAM0_data_back_result(unsigned char fpga)
{
    VMF_reg_back_result(fpga);
}

// The card's answer as it stands in its port pair's receive page: the read
// also copies its RAM page 0.
void fpga_manage::VMF_reg_back_result(unsigned char fpga)
{
    if (!vmf_answer_flag.load())
        return;
    vmf_answer_flag = 0;
    u8 a[kMaxPacket];
    unsigned len = 0;
    if (fpga > 1 || power_port >= kPorts || !read_answer(fpga, power_port / 2u, a, &len) || len < 12)
        return;
    if (Utils::BCC(a, len - 1) != a[len - 1]) {
        ++MCU_REG_func[fpga][vmf::kRegErrors];
        return;
    }
    const bool isRead = a[9] == vmf::kGroupReadRam;
    if (a[9] != g_change.vmf_expect_group || a[10] != 0 || (isRead && len < 11 + sizeof vmf_ram0 + 1)) {
        g_change.vmf_answer_state = 2;
        return;
    }
    if (isRead)
        std::memcpy(vmf_ram0, a + 11, sizeof vmf_ram0);
    g_change.vmf_answer_state = 1;
    g_change.vmf_data_flag = 1;
}

void fpga_manage::Power_ctrl_filter()
{
    if (!g_change.vmf_data_flag)
        return;
    g_change.power_state = vmf_ram0[44] == 1 ? 1 : 0;
    MCU_REG_func[0][vmf::kRegPower] = u8(g_change.power_state);
    g_change.vmf_data_flag = 0;
}

void fpga_manage::eth_data_send_start()
{
    if (Utils::getTimeSpace(g_change.power_step_stamp) <= 50)
        return;
    if (power_step >= 9) {
        power_off = 0;
        power_step = 1;
        return;
    }
    Send_write_VMF_reg_cmd(0, power_step);
    wait_VMF_result();
    g_change.power_step_stamp = G_timeTicks.load();
    ++power_step;
}

void fpga_manage::eth_data_send_stop()
{
    if (Utils::getTimeSpace(g_change.power_step_stamp) <= 50)
        return;
    if (power_step >= 9) {
        power_off = 1;
        power_stop_pending = 0;
        power_step = 1;
        return;
    }
    Send_write_VMF_reg_cmd(1, power_step);
    wait_VMF_result();
    g_change.power_step_stamp = G_timeTicks.load();
    ++power_step;
}

void fpga_manage::Send_write_VMF_reg_cmd(unsigned char OPTION, unsigned char step)
{
    if (step < 1 || step > 8 || !g_change.vmf_address)
        return;
    const unsigned k = (step - 1u) % 4u;
    const u8 mask = u8(3u << (2 * k));
    const u8 value = OPTION == 1 ? u8(1u << (2 * k)) : mask;
    const u8 data[4] = {u8(step <= 4 ? 2 : 3), mask, 0x00, value};
    u8 b[16];
    vmf_answer_flag = 0;
    Send_to_port(b, u16(vmf::packet(b, g_change.vmf_address, vmf::kGroupWriteReg, data, sizeof data)), power_port,
                 power_fpga);
}
