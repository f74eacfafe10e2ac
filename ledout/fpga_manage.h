// Manager of the LED-output FPGA and its receiving cards: registers, RAM
// pages and their shadows, the worker thread with the FPGA start-up, and
// the job words through which pages and commands post work to it.
#pragma once

#include <atomic>
#include <mutex>
#include <pthread.h>
#include <unistd.h>

#include <QStringList>

#include "core/global.h"
#include "ledout/clock_record_run.h"

class fpga_drv;
class rcvRecovery;

// Register numbers and bits the start-up and the shadows use.
namespace FpgaReg
{
constexpr unsigned kCount = 170;
constexpr u8 kScreen = 0;     // bit 2 screen off, bit 1 command, bit 3 output held
constexpr u8 kCommand = 2;    // bit 0 output enable, bit 2 run the command page, bit 3 page loaded
constexpr u8 kVboControl = 3; // bit 2 brightness, bit 5 LCD output, bit 6 / 7 V-by-One steps
constexpr u8 kBrightness = 6;
constexpr u8 kStatus = 22;      // bit 3 V-by-One error, 4 locked, 5 interrupt, 6 input changed, 7 output ok
constexpr u8 kHandshake = 23;   // bit 0 V-by-One run, bit 1 reset handshake, bit 3 screen hold
constexpr u8 kInputCheck = 31;  // valid while 25 to 48
constexpr u8 kOutputCheck = 41; // bit 0 output check start
constexpr u8 kManualBri = 64;   // shadow only
constexpr u8 kOnOffStored = 66; // shadow only
constexpr u8 kState = 80;       // shadow only: 0 down, 2 starting, 3 up
constexpr u8 kShadowOnlyFirst = 64;
constexpr u8 kShadowOnlyLast = 96;
constexpr u8 kUnusedLast = 127;
} // namespace FpgaReg

namespace FpgaRam
{
constexpr unsigned kPageSize = 1024;
constexpr unsigned kAddressSpace = 4096; // 12-bit RAM address
constexpr unsigned kEthPageSize = 136;
constexpr u8 kParaPage = 1;
// Flash records of the command page (flash 0 sectors).
constexpr unsigned kOnOffSector = 1741;
constexpr unsigned kBrightnessSector = 1742;
// The parameter page as stored by the PC: marker byte, then the page.
constexpr unsigned kStoredParaAddress = 0x6C7000;
} // namespace FpgaRam

// Jobs of g_send_para's job byte.
enum : u8 {
    JOB_NONE = 0,
    JOB_SMART_MAPPING = 1,
    JOB_SCAN_LOAD = 2,
    JOB_SAVE_TO_CARDS = 3,
    JOB_MAPPING_SWITCH = 4,
    JOB_RCV_CHECK = 5,
    JOB_RCV_RECOVERY = 6,
};

enum RCV_CHECK_OR_RECOVERY { RCV_CHECK = 0, RCV_RECOVERY = 1, RCV_SCAN_LOAD = 2 };

// The job record of the FPGA worker. Job and step share one 16-bit word
// (job in the low byte) so that posting (job, step 0) is one atomic
// exchange from "no job": two posters never lose one, and the worker never
// sees a job without its step.
struct SEND_PARA {
    std::atomic<u16> job_word{0};

    u8 job() const { return u8(job_word.load() & 0xFF); }
    u8 step() const { return u8(job_word.load() >> 8); }
    // Posts job with step 0 while no job is posted and no USB upgrade runs;
    // false when refused. Fields the job reads are written before posting.
    bool post(u8 job);
    // Sets the step and keeps the job byte.
    void set_step(u8 step);
    // Ends the running job (job and step 0); the next one is timed afresh.
    void finish()
    {
        run_timed = false;
        held = false;
        job_word.store(0);
    }
    // The worker's: G_timeTicks when its first pass met the running job, and
    // whether it has (see fpga_jobs_overdue).
    u32 run_stamp = 0;
    bool run_timed = false;
    // The worker's: whether host traffic holds the running job back, and
    // G_timeTicks of the first pass it did (see fpga_jobs_host_pause).
    u32 held_from = 0;
    bool held = false;

    std::atomic<u8> port{0}; // output port being served
    // Check and recovery job: screen, port entry, card, operation, player
    // step and retries, packets of the operation and packets sent.
    // Port and operation indices and packet counts are 16-bit: a file may
    // hold more than 255 of them.
    u8 screen_index = 0;
    u16 port_index = 0;
    u8 card_num = 0;
    u16 op_index = 0;
    u8 op_step = 0;
    u8 retry = 0;
    u16 op_packets = 0;
    u16 op_sent = 0;
    std::atomic<u8> answer_flag{0};        // set by the interrupt service when a card answers
    u16 card_index = 0;                    // card being sent
    u16 card_count = 0;                    // cards on the port
    u16 frame_len = 0;                     // length of the last packet built (data + 11)
    u16 address_card = 0;                  // card number put into the commands
    std::atomic<u32> mapping_state{0};     // job 4: 9 mapping display on, 0 off
    u32 step_stamp = 0;                    // G_timeTicks of the last step
    std::atomic<u16> check_status{0xFFFF}; // read by the recovery page
};

// The mapping line pattern written by the smart-mapping page before it
// posts job 1; the post publishes it to the worker.
struct MAPPING_LINE_PARA {
    int16_t cab_width = 0;  // x step between cards
    int16_t cab_height = 0; // y step
    u16 x_origin = 0;
    u16 y_origin = 0;
    u8 port = 0;
    u8 rows = 0;
    u8 cols = 0;
    u8 pattern = 0; // route pattern 1 to 16
};

// Tick stamps and request words of the worker's timed tasks. The worker,
// the interrupt service run by the link threads and the PC's command page
// all write them: every field is atomic.
struct FPGA_TIMER {
    std::atomic<u32> input_lost_stamp{0}; // input lost or FPGA reset
    std::atomic<u32> search_stamp{0};     // card search pass; also the job progress pulse
    std::atomic<u32> search_pass{0};      // pass counter, its parity picks the port of a pair
    std::atomic<u32> vbo_watch_stamp[2] = {{0}, {0}};
    std::atomic<u32> pulse_count{0};       // job progress pulse
    std::atomic<u32> bri_task_stamp{0};    // brightness task
    std::atomic<u32> record_time_stamp{0}; // last clock reading
    std::atomic<u32> power_wait_stamp{0};
    std::atomic<u32> power_task_stamp{0};
    std::atomic<u32> power_step_stamp{0};
    std::atomic<u32> power_picture_stamp{0};
    std::atomic<u32> power_state{0};
    std::atomic<u32> vmf_answer_state{0};
    std::atomic<u32> vmf_expect_group{0};
    std::atomic<u32> vmf_data_flag{0};
    std::atomic<u16> vmf_address{0};
    std::atomic<u8> vmf_group{0};

    // Every stamp to now and every request word to 0.
    void restart(u32 now);
};

// Start-up state of one FPGA.
struct FPGA_START {
    std::atomic<u8> vbo_state{0}; // 0 after reset, 1, 2, 3, 5, 6, 7 = done
    u32 vbo_stamp = 0;
    u32 start_delay = 0; // passes of the post-reset wait
    u16 err_count = 0;
    u8 reset_count = 0;           // resets without a V-by-One lock; survives resets
    std::atomic<u8> out_state{0}; // output check: 0, 7, 1, 8, 2, 9, 10, 3, 14, 15, 16, 18
    u32 out_stamp = 0;
    u32 out_stamp2 = 0;     // states 9, 10 and 16
    u16 out_retry = 0;      // counts up to 20 x (limit + 1)
    u8 out_retry_limit = 0; // survives resets
    u8 ram_reset = 0;
    std::atomic<u8> reset_req{0};
    std::atomic<u32> reset_stamp{0};
    std::atomic<u8> down_req{0}; // marked down by the interrupt service, for the worker
    u8 ram_check = 0;            // last RAM check: 1 passed, 0 failed
};

// Receiving-card packets and the port hardware they go through.
namespace FpgaCards
{
constexpr unsigned kPorts = 16;
constexpr unsigned kMaxPacket = 1024;
constexpr unsigned kHeader = 10; // destination to group; group data from byte 10
constexpr u16 kController = 0xF000;
constexpr u16 kAllCards = 0x0FFF;
constexpr u16 kFirstCards = 0x0FFE;
constexpr u8 kCodeJob = 0x67; // 'g'
constexpr u8 kCodeBrightness = 0x66;
// Card count (u16) and status byte of each port in the parameter page.
constexpr u16 kCountAt[kPorts] = {100, 102, 108, 110, 560, 564, 568, 572, 640, 644, 648, 652, 656, 660, 664, 668};
constexpr u16 kStatusAt[kPorts] = {104, 106, 112, 114, 562, 566, 570, 574, 642, 646, 650, 654, 658, 662, 666, 670};
// A card's address: port bits 12-13, card index bits 0-11.
constexpr u16 card_address(unsigned port, unsigned card)
{
    return u16(((port & 3u) << 12) | (card & 0x0FFFu));
}
} // namespace FpgaCards

// The register write of the scan parameters with which the smart-mapping job
// resets the cards' RAM parameters.
struct SCAN_PARA {
    u8 reg = 0;
    u8 mask = 0;
    u8 value = 0;
};

class fpga_manage
{
  public:
    static fpga_manage* pInstance();
    static fpga_manage* p_fpga_manage;

    // Opens the FPGA link and its flash and maps the control lines; 0, or
    // 255 when a device or the lines are unavailable (no LED output then).
    int initialize();
    // softinit, then the worker thread; 0, or 255 when it cannot start.
    int initialize_start();
    void softinit();
    static void* fpgamanageThread(void* arg);
    // One pass of the worker.
    void fpga_manage_deal();

    // Command words (sent least significant byte first).
    static unsigned int fpga_cmd_to_spi_data(unsigned int type, unsigned int page, unsigned int address,
                                             unsigned int read);
    static unsigned int fpga_reg_cmd_to_spi_data(unsigned int type, unsigned int page, unsigned int reg,
                                                 unsigned int read, unsigned int mask);

    // Register and RAM access. All return 1 when done and 0 when refused
    // (FPGA index above 1, register 170 or above, RAM past 4096 bytes, no
    // device or no lines) or when the transfer failed.
    int read_fpga_register(unsigned int reg, unsigned char* out, unsigned char fpga);
    int write_fpga_register(unsigned int reg, unsigned char value, unsigned char fpga, unsigned char mask);
    // Registers 0-63 and 128-169 are read into the shadow; 64-127 left alone.
    int read_from_register(unsigned char reg, unsigned char fpga);
    // Read, merge ((old & ~mask) | (value & mask)) and write as one step
    // under the FPGA's register lock; 64-96 change the shadow only.
    int write_to_register(unsigned char reg, unsigned char mask, unsigned char value, unsigned char fpga);
    // The same without the image mirroring and the register-2 command.
    int write_to_0x00_register(unsigned char reg, unsigned char mask, unsigned char value, unsigned char fpga);
    int write_fpga_ram(const unsigned char* data, unsigned int address, unsigned int length, unsigned char page,
                       unsigned char fpga);
    int read_fpga_ram(unsigned char* out, unsigned int address, unsigned int length, unsigned char page,
                      unsigned char fpga);

    void FPGA_to_RAM(unsigned char fpga);
    void Version_to_RAM();
    void PHY_status_to_RAM();
    // The command page (MCU_RAM_CMD) is written by the PC links, which run it
    // with register 2 bit 2, and by the worker, which puts the system's
    // fields into it at start-up and at every FPGA start. Both go through
    // these, under the page's lock (nothing is locked under it). A command
    // page the PC wrote stays as written until it runs: fields the system
    // sets meanwhile go into it after the run.
    static void pc_write_command_page(const u8* data, unsigned length);
    static void read_command_page(u8* out, unsigned length);
    static void set_command_fields(unsigned offset, const u8* data, unsigned length);
    // FPGA 0 is up: register 80 = 3, V-by-One done, output check at 16 or
    // later, output not held.
    bool get_fpga_status();
    // Byte offsets of a port's x, y, width, height in the parameter page
    // (port above 15: port 0's). Returns 0.
    static int get_eth_param_addr(unsigned char port, unsigned short* x, unsigned short* y, unsigned short* w,
                                  unsigned short* h);

    // The register shadow is shared by the worker, the link threads and the
    // pages: its bytes are loaded and stored atomically (merges also hold the
    // register lock). Registers 170 and above read 0 and are not stored.
    static u8 shadow_reg(unsigned char fpga, unsigned char reg);
    static void set_shadow_reg(unsigned char fpga, unsigned char reg, u8 value);

    // Bytes clocked in the data phase without a command word: the low byte
    // of command, then length bytes of data, one message each. 1 when all
    // went out, 0 when refused (no link for the FPGA) or a transfer failed.
    int write_LCD_register(unsigned int command, unsigned char* data, unsigned char fpga, unsigned char length);

    // Monitor change, one step per call of check_monitor_change: state 1
    // drops register 23 bit 4 and waits, state 2 polls the measured size
    // until both words are set (state 3), state 4 sets up the LCD size and
    // the line tables and raises register 23 bit 4 again (state 0). States
    // 0 and 3 rest; set_9022_para moves 3 to 4 when the monitor's
    // transmitter answers.
    void set_lcd_change_flag();
    void set_9022_para(int fpga);
    void check_monitor_change(unsigned char fpga);
    std::atomic<u32> monitor_state[2] = {{3}, {3}};
    u32 monitor_stamp[2] = {0, 0};
    u32 monitor_delay[2] = {0, 0};

    // LCD size: the image's LED screen size into parameter-page bytes 424
    // to 431 and the FPGA, then the line tables. 1 when done, 0 when a
    // write failed or the size does not fit the tables.
    int set_fpga_lcd_wh(unsigned char fpga);
    // Column table of width against 1024 to RAM page 35 (2000 bytes), row
    // table of height against 768 to RAM page 34 (512 bytes), built in
    // MCU_RAM_DEFAULT. Widths above 15984 and heights above 4080 do not fit
    // and are refused (0).
    int set_fpga_row_col_ram(unsigned short width, unsigned short height, unsigned char fpga);
    static constexpr unsigned kColumnTable = 2000;
    static constexpr unsigned kRowTable = 512;
    // Line table of n lines spread over m: n or m 0 leaves it alone; n up
    // to m gives m / 8 bytes of 0xFF; above m, line k (from 1) is bit
    // (k - 1) % 8 of byte (k - 1) / 8, set for the lines i x n / m (i = 1 to
    // m - 1), and the bits after the last line are set to the end of its
    // byte (a whole byte more when it ends one). The table must hold
    // n / 8 + 2 bytes, and m / 8 when n is at most m.
    static void row_col_calcul_ram(unsigned int n, unsigned int m, unsigned char* table);

    // Start-up.
    void reset_fpga_rst(unsigned char fpga);
    // The FPGA lost its input (register 31 out of range): register 80 = 0
    // at once, and the worker's next start-up step returns both state
    // machines to 0, so that the returning input brings the output up again.
    void mark_fpga_down(unsigned char fpga);
    void check_fpga_rst();
    void power_up_fpga_start(unsigned char check, unsigned char fpga);
    void fpgainit(unsigned char fpga);
    void power_up_check_fpga_status(unsigned char fpga);
    int set_output_status();
    int set_fpga_bri_val();
    // The worker's idle turn (no job posted).
    void Check_search_card();

    // Screen commands: on FPGA 0 through write_to_register; the second form
    // sends 0 and 1 through write_to_0x00_register.
    void SCREEN_fpgactrl_status(unsigned char SCREEN_status);
    void SCREEN_fpgactrl_status2(unsigned char SCREEN_status, unsigned char fpga);

    // Entry points of the card protocol, brightness, geometry, clock, jobs,
    // record files and upgrade.
    void reg_IRQ_Dealwith(unsigned char fpga, unsigned char force);
    int Brightness_hand_dealwith(unsigned char request);
    void record_bright_change();
    void record_onoff_time(unsigned char flash);
    // Loads the on/off table from a command page (or the stored record).
    void OnOff_time(const unsigned char* page);
    void Extension_function();
    void Power_ctrl_init();
    void eth_param_init(unsigned char clear, unsigned char fpga);
    void Q64_back_mcu_set_net_para(unsigned char fpga);
    // The ports' places from the backup and the image's screen origin.
    void Q64_mcu_set_net_para(unsigned char fpga);
    void update_eth_state(unsigned char fpga);
    void check_wlanonline_state();
    void set_led_para_deal();
    // Sets the clock from a command page's bytes 8 to 14.
    void Checktime(const unsigned char* page);
    void Record_Time_Deal();
    void run_clock_record();

    // Output geometry (parameter page): smallest port origin, largest port
    // right and bottom edges, screen origin and size. Each returns 0.
    int get_eth_min_x_y(unsigned char fpga, unsigned short* x, unsigned short* y);
    int get_eth_max_border(unsigned char fpga, unsigned short* right, unsigned short* bottom);
    int get_eth_lcd_x_y(unsigned char fpga, unsigned short* x, unsigned short* y);
    int get_eth_lcd_w_h(unsigned char fpga, unsigned short* w, unsigned short* h);
    // Link bits of the 16 output ports while FPGA 0 is up, else 0.
    u16 get_wlan_state();
    // Link bits as last reported with test_signal(11), and when the watch
    // last read them.
    u16 wlan_state_last = 0;
    u32 wlan_check_stamp = 0;
    static constexpr u32 kWlanCheckTicks = 100;
    // LED set-up: tick stamp of its last step and the count of status re-reads.
    u32 led_setup_stamp = 0;
    u16 led_setup_count = 0;

    // The system clock, read every 26 ticks by the worker, and the
    // running-time record kept in the flash.
    int IT8563WE_Get(TimeRealType* out);
    TimeRealType time_real;
    clock_record_run clock_record;
    void Search_Card_Cmd();
    u8 check_vbo_status(unsigned char fpga);
    void SmartMapping_deal();
    void save_para_deal();
    void mapping_enable_deal();
    void rcv_recovery_check_deal(RCV_CHECK_OR_RECOVERY mode);
    void usb_upgrade_manage_deal();
    void usb_upgrade_deal();

    // Receiving-card packets. Each builder writes the whole packet (BCC
    // included) into buffer, which holds at least the packet (at most 1024
    // bytes), stores its length in g_send_para's frame length and returns
    // it; 0, with nothing written, when the data would not fit a packet.
    static int rcv_card_cmd_create(unsigned char* buffer, unsigned char port);
    static int load_write_ram_cmd_create(unsigned char port, unsigned short card, unsigned int address,
                                         const unsigned char* data, unsigned short length, unsigned char* buffer,
                                         unsigned char all);
    static int load_write_reg_cmd_create(unsigned char port, unsigned short card, const unsigned char* data,
                                         unsigned short length, unsigned char* buffer, unsigned char all);
    static int load_write_user_defined_cmd_create(unsigned char port, unsigned short card, const unsigned char* data,
                                                  unsigned short length, unsigned char* buffer, unsigned char all);
    static int rcv_active_firmware_cmd_create(unsigned char port, unsigned short card, const unsigned char* data,
                                              unsigned short length, unsigned char* buffer);
    static int rcv_reconfig_cmd_create(unsigned char port, unsigned short card, const unsigned char* data,
                                       unsigned short length, unsigned char* buffer);
    static int ram_reset_cmd_create(unsigned char* buffer, const SCAN_PARA& scan, unsigned char port);
    static int save_para_cmd_create(unsigned char* buffer, unsigned char port);
    static int save_para2flash_cmd_create(unsigned char port, unsigned short card, unsigned char* buffer,
                                          unsigned char all);
    static int mapping_enable_cmd_create(unsigned char port, unsigned char* buffer);
    static int load_search_rxc_cmd_create(unsigned char port, const unsigned char* data, unsigned short length,
                                          unsigned char* buffer);
    // Packet templates (last byte the BCC place).
    static const u8 SEND_BRI_SAVE_CMD[13];
    static const u8 SEND_BRI_ETH_REG[15];
    static const u8 SEND_BRI_ETH_CMD[20];
    static const u8 SEARCH_CARD_BUF[15];
    static const u8 SEND_READ_VMF_RAM0_CMD[19];
    // Position of the card at route index under line_type; nothing is
    // written for pattern 0 or above 16, or an empty route. An index outside
    // the route gives the route's last position.
    static void get_rcvcard_x_y(int index, unsigned short* x, unsigned short* y);

    // Port sending. Send_to_port: 1 when the packet went out, 0 when refused
    // (length 0 or above 1024, port above 15).
    int Send_to_port(const unsigned char* packet, unsigned short length, unsigned short port, unsigned char fpga);
    // Waits up to 300 ticks for the port pair's ready bit to clear (one look
    // only on the GUI thread); 1 when clear, 0 on time-out or a port above 15.
    int wait_fpga_send_ready(unsigned char port, unsigned char fpga);
    // The packet, steered to each port, to every usable port or to the
    // multicast ports; records the ports sent to and starts the answer wait.
    // Returns the mask of those ports.
    u32 multi_port_send(const unsigned char* packet, unsigned short length);
    // Acknowledged sending: modes 2, 3 (reset), 4 and 6 (send), any other
    // mode checks the answers (0 waiting, 2 send again, 1 or 9 done).
    int to_rcv_sure_send(unsigned char mode, unsigned int length, const unsigned char* packet);
    u16 get_port_card_num(unsigned char port);
    u16 check_netport_card(unsigned char fpga);

    // Interrupt service and pass-through.
    // One interrupt service of FPGA 0 outside the worker's pass (under the
    // service lock, as every caller of the service).
    void Brightness_task_run();
    void Search_Card_task_run();
    void check_fpga_net_data_status(unsigned char fpga);
    void Rcv_data_from_eth(unsigned char fpga);
    void deal_with_search_concurrent(unsigned char fpga);
    // A search answer from receive slot 0 to 7: card count and status of its
    // port into the parameter page.
    void Search_concurrent_back_result(const unsigned char* frame, unsigned char slot, unsigned char fpga,
                                       unsigned int length);
    void update_eth_rcv_num(const unsigned char* frame, unsigned char port, unsigned char fpga, unsigned int length);
    // Forwards an un-escaped PC frame (BCC included) to the cards; returns 1.
    int Dealwith1_PC_to_eth(unsigned int length, unsigned char* frame);
    // 1 when the last forwarded frame went out, and only to ports with a
    // link, so that an answer can come (under the service lock).
    std::atomic<u8> passby_expect{0};
    // Link bits of the 16 ports; none while the FPGA is not up.
    u16 port_links();
    // Hands the pass-through card side to the links (once; the interrupt
    // service does it on its first run).
    void install_passby();

    // Shadows, one pointer per FPGA.
    //
    // The parameter page (FPGA RAM page 1) and its backup relative to the
    // screen origin are shared by the worker (start-up, monitor, card
    // search), the interrupt service (card counts, link state), the PC links
    // (RAM writes and reads, the stored page, the device information) and the
    // panel: every reader and writer holds para_mutex (recursive), readers
    // copying what they need. It comes after the register lock and before
    // Utils::_spi_mutex (the order is in core/para_apply.h): the page goes to
    // the FPGA's RAM under it, so shadow and RAM change in one order, and
    // nothing but that transfer's SPI mutex is taken under it (registers, the
    // image and the flash are read before it).
    static pthread_mutex_t para_mutex;
    static u16 para16(unsigned char fpga, unsigned offset);
    static void read_para_page(unsigned char fpga, unsigned offset, u8* out, unsigned length);
    static u8* MCU_REG_func[2];
    static u8* MCU_RAM_PARA_func[2];
    static u8* MCU_RAM_RX_func[2];
    static u8* MCU_RAM_TX_func[2];
    static u8* MCU_RAM_ETH_PARA_func[2];
    static u8* MCU_RAM_ETH_BACK_PARA_func[2];
    // Pages held only in the controller.
    static u8 MCU_RAM_CMD[FpgaRam::kPageSize];
    static u8 MCU_RAM_EXTEND[FpgaRam::kPageSize];
    static u8 MCU_RAM_ZOOM[FpgaRam::kPageSize];
    static u8 MCU_RAM_DEFAULT[2 * FpgaRam::kPageSize];
    // Default parameter page when the flash holds none.
    static const u8 RAM1[256];

    fpga_drv* p_drv = nullptr;
    int fpga_vbyone1_fd = -1;
    int fpga_vbyone2_fd = -1; // the board has one FPGA: never opened
    int fpga_vbyone1_flash_fd = -1;
    int fpga_vbyone2_flash_fd = -1;

    // Register lock of each FPGA (recursive): after the apply mutex and the
    // LED set-up mutex, before Utils::_spi_mutex (the order is in
    // core/para_apply.h); and the service lock of the interrupt service and
    // pass-through.
    pthread_mutex_t reg_mutex[2];
    pthread_mutex_t irq_mutex;

    FPGA_START start[2];

    // Set to 1 by the video-processor thread under Utils::_bri_set_mutex when
    // the image's brightness changed; the worker clears it once applied.
    std::atomic<u8> bri_set_flag{0};
    // Output-status request (under Utils::_system_mutex).
    std::atomic<u8> output_status_flag{0};
    // Pass-through waiting for answers, and the ports searched by the
    // current card-search pass.
    std::atomic<u8> passby_wait{0};
    std::atomic<u32> search_port_mask{0};
    // Search answers seen since the last judging: bit fpga x 8 + receive
    // slot; bits 31 and 30 belong to the search pass.
    std::atomic<u32> search_answer{0};
    // Config id of the screen the check job is looking for; a search answer
    // that carries it sets g_send_para's check status.
    std::atomic<u8> check_config_armed{0};
    std::atomic<u32> check_config_id{0};
    // Pass-through (under the service lock): multicast out, its packet code
    // and whether it went to the first cards, the ports it went to and those
    // that answered (bit fpga x 16 + port), and the tick of the last frame.
    std::atomic<u8> multicast_active{0};
    u8 passby_code = 0;
    u8 passby_first_cards = 0;
    u32 passby_sent = 0;
    u32 passby_answered = 0;
    std::atomic<u32> passby_stamp{0};
    // Multicast mode and port mask written by the PC (under
    // Utils::_fpga_multicast_mutex).
    u32 multicast_mode = 0;
    u32 multicast_mask = 0;
    // Acknowledged send: ports sent to and answered (group 0x39), counters.
    u32 sure_sent = 0;
    std::atomic<u32> sure_answered{0};
    u32 sure_wait = 0;
    u8 sure_retry = 0;
    u32 sure_stamp = 0;
    // The multifunction card's last register or RAM answer: flag, group and
    // answer bytes 10 to 138.
    std::atomic<u8> vmf_answer_flag{0};
    u8 vmf_answer_group = 0;
    u8 vmf_answer[129] = {};
    // Brightness: the PC's command asks for a reload of the stored record;
    // current value.
    std::atomic<u32> bri_reload{0};
    std::atomic<u8> bri_value{16};

    // Pause between two worker passes while cards or a host may be waiting
    // for an answer: keeps the response within a millisecond.
    static constexpr useconds_t kPassSleepUs = 500;
    // Pause while nothing waits: the start-up and timers count 10 ms ticks
    // and compare elapsed ticks, so one pass a tick is enough for them.
    static constexpr useconds_t kIdlePassSleepUs = 10000;
    // Pause once the screen is lit and no request is pending: what remains
    // is timed in seconds and minutes, and host traffic and job posts wake
    // the worker at once.
    static constexpr useconds_t kSteadyPassSleepUs = 50000;
    // Ticks after the last host frame before the card work goes on.
    static constexpr u32 kHostHoldTicks = 80;
    // True while a job, a pass-through or an upgrade may need the worker's
    // next pass sooner than the next tick.
    bool awaiting_traffic() const;
    // The pause after a pass, by the rules above.
    useconds_t pass_pause() const;

    // ---- Brightness, screen on/off times, multifunction card ----
    void Brightness_init(const unsigned char* record);
    void Brightness_task();
    void Brightness_hand_change();
    void Brightness_time_change();
    void Brightness_auto_change();
    void Brightness_check_VMF();
    void Brightness_read_VMF_value();
    void Send_read_VMF_data_cmd();
    void Brightness_VMF_run();
    void VMF_data_back_result();
    void Brightness_auto_filter();
    void dealwith_onoff();
    // Half-hour index of a time of day (0 to 47).
    static u8 half_hour_index(unsigned hour, unsigned minute);
    // Power control through the multifunction card (not called by the
    // worker; only its state is kept).
    void Power_ctrl_reset();
    void Power_ctrl_deal();
    void Power_ctrl_task();
    void Power_check_VMF();
    void Power_read_VMF_value();
    void Power_ctrl_filter();
    void Send_read_VMF_RAM0_data_cmd();
    void eth_data_send_start();
    void eth_data_send_stop();
    void Send_write_VMF_reg_cmd(unsigned char OPTION, unsigned char step);
    void wait_VMF_result();
    void Power_VMF_run();
    void VMF_RAM0_data_back_result(unsigned char fpga);
    void VMF_reg_back_result(unsigned char fpga);

    // Brightness mode: 0 manual from the PC, 16 manual from the image, 1 time
    // table from the PC, 17 stored time table, 2 automatic, 3 automatic at the
    // slow period; anything else runs no task.
    std::atomic<u8> bri_mode{255};
    u8 HalfHourValue[48];
    u8 bri_last_index = 255;
    u32 bri_repeat = 0;
    u32 bri_change = 0;
    std::atomic<u32> bri_task_on{0};
    // Multifunction card: misses in a row and its last sensor block.
    u32 vmf_miss = 0;
    u8 vmf_data[128] = {};
    // Real-time cap of a wait for the card (its 35 ticks), so a stalled
    // tick never holds the worker.
    u32 vmf_wait_ms = 350;
    // Daily on/off times (plain numbers) and whether each is still armed,
    // under onoff_mutex: a PC link loads a table from its command page while
    // the worker switches by it (nothing is locked under it).
    std::mutex onoff_mutex;
    struct ONOFF_ENTRY {
        u8 on_hour, on_minute, off_hour, off_minute;
        u8 on_armed, off_armed;
    };
    ONOFF_ENTRY onoff[4] = {};
    u8 onoff_count = 0;
    u8 onoff_day = 0;
    // 1 when the timer last switched the screen on, 2 off, 0 never.
    u8 onoff_switched = 0;
    // Power control: the card's port (252 none) and FPGA, flags, step and
    // the card's RAM page 0.
    u8 power_port = 252;
    u8 power_fpga = 0;
    u8 power_off = 0, power_wait = 0, power_armed = 0, power_picture = 0, power_stop_pending = 0;
    u8 power_step = 1;
    u8 vmf_ram0[256] = {};

    // ---- Card search and link watch ----
    void check_error_rcv_search_card_cmd(unsigned int port, unsigned char fpga, unsigned int arg1, unsigned int arg2,
                                         unsigned char flag);
    u16 CHECK_search_cmd_status();
    // Sum of the per-port card counts, as the last judging found it.
    std::atomic<u16> search_card_total{0};
    // V-by-One watch of each FPGA: error flag, restart step, poll count.
    u8 vbo_err[2] = {0, 0};
    u8 vbo_step[2] = {0, 0};
    u16 vbo_poll[2] = {0, 0};

    // ---- Check, recovery and scan-parameter load ----
    int load_rcv_xy_operate(QString path, uint64_t dataOffset, bool raw);
    rcvRecovery* rcv_file = nullptr;
    // The card the last check found, for the recovery.
    u8 rcv_screen = 0;
    u8 rcv_port = 0;
    u8 rcv_card = 0;

    // ---- USB-stick upgrade ----
    void get_usb_file_list_path();
    void usb_upgrade_main_deal();
    int update_muc_file(char* path, unsigned int offset, unsigned int len);
    int update_txc_file(char* path, unsigned char flash, unsigned int offset);
    int update_c331_osd_font_file(char* path, unsigned int offset, unsigned int len);
    QStringList usb_file_list;
    u8 usb_file_count = 0;
    u8 usb_flag_app = 0, usb_flag_fpga1 = 0, usb_flag_fpga2 = 0, usb_flag_font = 0;
    QString usb_time_text;

  private:
    fpga_manage();
    int map_lines();
    // One register or RAM transaction: command word, then len data bytes.
    int transaction(unsigned char fpga, unsigned int command, const u8* tx, u8* rx, unsigned int len);
    int merge_write(unsigned char reg, unsigned char mask, unsigned char value, unsigned char fpga, bool mirror);
    // Q64_mcu_set_net_para with the origin read beforehand.
    void place_ports(unsigned char fpga, u16 origin_x, u16 origin_y);
    void run_command_page();
    // The command page into out (1024 bytes), to be run: held system fields
    // go into the page now.
    static void take_command_page(u8* out);
    static std::mutex cmd_mutex_;
    static bool cmd_pending_;
    static u8 cmd_fields_[FpgaRam::kPageSize];
    static unsigned cmd_held_from_, cmd_held_to_;
    // Erases a flash-0 sector and stores length bytes of a command page.
    int store_command_page(const u8* page, unsigned int sector, unsigned int length);
    int erase_sector(unsigned int sector);
    bool source_up() const;
    bool ram_check(unsigned char fpga);

    // Card answers: reading and acknowledging a receive slot, routing an
    // answer for the PC and handing it to the marked link.
    bool read_answer(unsigned char fpga, unsigned slot, u8* out, unsigned* length);
    void ack_answer(unsigned char fpga, unsigned slot);
    void take_search_answer(const u8* answer, unsigned length, unsigned char fpga, unsigned slot);
    void answer_for_pc(u8* answer, unsigned length, unsigned char fpga, unsigned slot);
    void deliver_answer(const u8* answer, unsigned length);
    bool port_usable(unsigned port, u16 links);
    // Interrupt noted by a data-ready poll, and the poll's state.
    u8 irq_mark_[2] = {0, 0};
    u8 irq_poll_[2] = {0, 0};
    u32 irq_poll_stamp_[2] = {0, 0};

    u8 reg_shadow_[2][FpgaReg::kCount];
    u8 ram_para_[2][FpgaRam::kPageSize];
    u8 ram_rx_[2][FpgaRam::kPageSize];
    u8 ram_tx_[2][FpgaRam::kPageSize];
    u8 ram_eth_[2][FpgaRam::kEthPageSize];
    u8 ram_eth_back_[2][FpgaRam::kEthPageSize];
    pthread_t thread_{};
};

// Holds an FPGA's register lock for a scope.
class FpgaRegLock
{
  public:
    FpgaRegLock(fpga_manage* m, unsigned char fpga) : m_(&m->reg_mutex[fpga & 1]) { pthread_mutex_lock(m_); }
    ~FpgaRegLock() { pthread_mutex_unlock(m_); }
    FpgaRegLock(const FpgaRegLock&) = delete;
    FpgaRegLock& operator=(const FpgaRegLock&) = delete;

  private:
    pthread_mutex_t* m_;
};

// Holds the parameter pages' lock for a scope.
class FpgaParaLock
{
  public:
    FpgaParaLock() { pthread_mutex_lock(&fpga_manage::para_mutex); }
    ~FpgaParaLock() { pthread_mutex_unlock(&fpga_manage::para_mutex); }
    FpgaParaLock(const FpgaParaLock&) = delete;
    FpgaParaLock& operator=(const FpgaParaLock&) = delete;
};

// Holds the service lock for a scope.
class FpgaServiceLock
{
  public:
    explicit FpgaServiceLock(fpga_manage* m) : m_(&m->irq_mutex) { pthread_mutex_lock(m_); }
    ~FpgaServiceLock() { pthread_mutex_unlock(m_); }
    FpgaServiceLock(const FpgaServiceLock&) = delete;
    FpgaServiceLock& operator=(const FpgaServiceLock&) = delete;

  private:
    pthread_mutex_t* m_;
};

// 1 while the LED screen shows a picture, 0 while it is switched off.
extern std::atomic<u8> ScreenState;

extern SEND_PARA g_send_para;
extern MAPPING_LINE_PARA line_type;
// Non-zero while a USB-stick upgrade is to run.
extern std::atomic<u8> g_usb_grade;
// What the last USB-stick upgrade came to; set before it announces its end.
enum UsbUpgradeOutcome : u8 { USB_FINISHED = 0, USB_NO_PACKAGE = 1, USB_CHECK_FAILED = 2 };
extern std::atomic<u8> g_usb_grade_outcome;
extern FPGA_TIMER g_change;
