// Command handler of the PC protocol. Every accepted frame that is not passed
// through to the receiving cards reaches message_group_deal, which picks the
// handler of the command group (body byte 9) from one table. Handlers work in
// the frame's work buffer (pc::kWorkSize bytes, zero past the body) and
// return n, the reply length counted from offset 10 (status included); 0
// means no reply.
#pragma once

#include <QByteArray>
#include <QMutex>
#include <QString>

#include "core/global.h"
#include "core/md5.h"

class message_deal
{
  public:
    message_deal();
    ~message_deal();
    message_deal(const message_deal&) = delete;
    message_deal& operator=(const message_deal&) = delete;

    // Handlers of every link share fileBuf_tarvo, the transfer state, the
    // capture and the FPGA mirrors: message_group_deal runs one command at a
    // time under this lock, whichever link calls it. Recursive, so a link may
    // also hold it around its own call.
    static QMutex command_mutex;

    // body: the un-escaped frame in a work buffer of pc::kWorkSize bytes;
    // length: the body without its BCC; link: the calling link's code; peer:
    // which client of the link sent it (its connection or address), so that
    // a file transfer answers only the client that started it.
    int message_group_deal(u8* body, int length, int link, uint64_t peer = 0);
    // Work a handler leaves until its reply has gone out (the digest of a
    // file block, hashed while the PC sends the next one); a link calls it
    // once the replies to what it read are sent.
    static void replied();

    // Register commands (groups 0xA0, 0xA1).
    int write_register(u8* body, int length);
    int read_register(u8* body, int length);
    // Action of a box register after its shadow byte was stored: 0 when the
    // register has one, 1 when it has none.
    int reg_cmd_run(u8 reg, u8 mask);
    int REG_fuction(u8 mask);
    int REG_FLASH_STATUS1_flag(u8 mask);
    int REG_comm_flag(u8 mask);
    int REG_com1_flag(u8 mask);
    int REG_mcu_flag(u8 mask);
    int RegUpdate0E(u8 mask);
    int RegUpdate10(u8 mask);
    int RegUpdate11(u8 mask);

    // Parameter-RAM commands (groups 0x60, 0x61, 0xB0, 0x81, 0x82, 0x83).
    int write_ram(u8* body, int length);
    int read_ram(u8* body, int length);
    int vedio_write_single_para(u8* body, int length);
    int param_save(u8* body, int length);
    int get_card_version(u8* body, int length);
    int get_card_uid(u8* body, int length);
    // Group 0x87: sets the system and hardware clocks.
    int write_rtc_time(u8* body, int length);
    // Group 0x84: prepares the first FPGA for an update sent by the PC.
    int start_update(u8* body, int length);

    // Network group 0xA4.
    int net_eth_group(u8* body, int length);
    int init_MAC_address(u8* body, int length);
    int net_ip_set(u8* body, int length);
    int net_eth_search(u8* body, int length);
    int get_device_info(u8* body, int length);
    // Barcode and languages, group 0xA2.
    int barcode_group(u8* body, int length);
    int set_barcode(u8* body, int length);
    int read_barcode(u8* body, int length);
    int set_lcd_lang_support(u8* body, int length);
    // Cloud settings, group 0xC3.
    int project_lock_group(u8* body, int length);
    int project_set_setproperty(u8* body, int length);
    // Group 0xC4: the 4G module's text protocol, handed to the remote side
    // (message_remote.h).
    int deal_4g(u8* body, int length);

    // Module files (groups 0xCC, 0xC5 to 0xCB) and the module's state (0x8E,
    // 0x8F).
    int YP_SendFile(u8* body, int length);
    int YP_SendFileData(u8* body, int length);
    int YP_SendFileEND(u8* body, int length);
    int YP_SendFileCancel(u8* body, int length);
    int YP_RecvFile(u8* body, int length);
    int YP_RecvFileData(u8* body, int length);
    int YP_RecvFileEnd(u8* body, int length);
    int YP_RecvFileCancel(u8* body, int length);
    int get_yp_module_info(u8* body, int length);
    int check_yp_module(u8* body, int length);

    // LED screen size from the first FPGA's receiving-card parameters.
    static void set_para_sync();
    // Fill the extended page before the PC reads it.
    static void FPGA_Ex_ram_update();
    static void Time_to_RAM();

    // File transfers (group 0xC0): sub-command 1..10 of write_file_group.
    int write_file_group(u8* body, int length);
    int write_file_start(u8* body, int length);
    int write_file_block(u8* body, int length);
    int write_file_end(u8* body, int length);
    int read_file_start(u8* body, int length);
    int read_file_block(u8* body, int length);
    int read_file_end(u8* body, int length);
    int write_defined_file_start(u8* body, int length);
    int read_defined_file_start(u8* body, int length);
    int read_dir_file_para(u8* body, int length);
    int delete_file_name(u8* body, int length);
    // File of a read transfer, read whole at its start so that nothing is
    // opened while blocks are served (under Utils::_file_deal_mutex), and the
    // digest of what a read transfer sent.
    struct ReadFile {
        bool open = false;
        QByteArray bytes;
    };
    static ReadFile file_tarvo;
    static MD5 md5;

    // Flash commands (groups 0x70, 0x71, 0x72).
    int cmd_erase_flash(u8* body, int length);
    int cmd_write_flash(u8* body, int length);
    int cmd_read_flash(u8* body, int length);

    // EDID tables (group 0xC1).
    int write_edid_table_group(u8* body, int length);
    int write_edid_table(u8* body, int length);
    int read_edid_table(u8* body, int length);

    // Screen capture served at 0x800000: its own buffer (0xAA 0xAA, then the
    // file) and length. Under Utils::_file_deal_mutex.
    static constexpr u32 kCaptureSize = 0x200000;
    static u8 capture_buf[kCaptureSize];
    static u32 capture_length;

  private:
    using Handler = int (message_deal::*)(u8* body, int length);
    struct Group {
        u8 group;
        // Sub-commands (body byte 10) the group takes; none listed: any.
        const u8* subs;
        u8 sub_count;
        // Null while the group's commands are not built: no reply.
        Handler handler;
    };
    static const Group groups[];

    int write_fpga_ram_cmd(u8* body, int length, u32 address, int len, u8 fpga);
    int read_fpga_ram_cmd(u8* body, u32 address, int len, u8 fpga);
    static u8 box_byte(u32 address, u32 start, u32 index, const u8* request);
    static void info_block(u8* out);
    static void start_capture();
    static void update_mode(bool start);
    static void request_led_setup();

    // The client whose command is being handled.
    uint64_t peer_ = 0;
};

// Text of the receiving cards' parameter sync: the parameter save shows it in
// the debug log unless it is "OK".
extern QString g_rcv_sync_led;

// FPGA chosen by a register command (body byte 7: 1 or 2 names FPGA 0 or 1).
u8 register_fpga(const u8* body);
// FPGA chosen by a RAM command or query: byte 6 = 0 and byte 7 = 1 or 2.
u8 ram_fpga(const u8* body);
