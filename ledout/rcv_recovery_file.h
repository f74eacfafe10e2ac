// Reader of the receiving cards' record files: the recovery packs in
// "/data/rcvrecovery" (screens, their output ports with per-card operation
// lists, and parameter operations for all cards of a port) and the
// scan-parameter files in "/data/smartmapping" or on the USB stick (one
// operation list). No file stays open: every read opens the file read-only,
// seeks, reads and closes it under Utils::_file_deal_mutex. All numbers in
// the files are little-endian.
#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>

#include "core/global.h"
#include "core/utils.h"

// Sub-file types of a pack.
enum : u8 { RCV_SUB_SCREEN = 10, RCV_SUB_XY = 11, RCV_SUB_PARA = 12 };

// Operation types and targets.
enum : u8 {
    RCV_OP_WRITE = 1,
    RCV_OP_RAM2FLASH = 2,
    RCV_OP_ACTIVE_FIRMWARE = 3,
    RCV_OP_UPGRADE = 4,
    RCV_OP_RECONFIG = 5,
    RCV_OP_SLEEP = 6,
    RCV_OP_SEARCH = 7,
    RCV_OP_USER_DEFINED = 16,
};
enum : u8 { RCV_TARGET_RAM = 1, RCV_TARGET_REG = 2, RCV_TARGET_FLASH = 3 };

struct RCV_SUBFILE {
    u8 type = 0;
    u32 length = 0;
    u32 offset = 0;
};

struct RCV_SCREEN_HEAD {
    u8 type = 0;
    u32 rcv_para_len = 0;
    u32 rcv_para_crc32 = 0;
    u32 rcv_xy_len = 0;
    u32 rcv_xy_crc32 = 0;
    u8 screen_num = 0;
};

struct RCV_SCREEN_INFO {
    u32 config_id = 0;
    u32 net_use = 0;
    u32 rcv_para_offset = 0;
    u32 rcv_para_len = 0;
    u32 rcv_xy_offset = 0;
    u32 rcv_xy_len = 0;
};

struct RCV_NET_PARA {
    u16 net_ledx = 0;
    u16 net_rcv_num = 0;
    u32 net_para_offset = 0;
    u32 net_para_len = 0;
};

struct RCV_OPERATE {
    u32 offset = 0; // of the operation's data (see the list it stands in)
    u32 dataLen = 0;
    u32 targetAddr = 0;
    u32 timeticks = 0; // milliseconds
    u8 type = 0;
    u8 target = 0;
};

class rcvRecovery
{
  public:
    static constexpr unsigned kMaxSubfiles = 6;
    // Longest sleep or acknowledgement wait an operation may ask for: far
    // above any real card operation, so that a damaged file cannot hold the
    // job (and the keys its progress bar holds) for days.
    static constexpr u32 kMaxWaitMs = 60000;
    // The box's output ports (16 per FPGA): a pack's port tables list at
    // most this many entries in all, each naming one of them.
    static constexpr unsigned kBoxPorts = 32;
    static const char* const kRecoveryDir; // "/data/rcvrecovery"
    static const char* const kSmartDir;    // "/data/smartmapping"
    static const char* const kUsbDir;      // "/mnt/usb1/"

    // Reads return 0 when done, 1 when the file is missing or cannot be
    // opened, 2 when it is damaged (no regular file, a read error, a short
    // read, an offset past its end, a table or index out of range, an
    // operation the player must not carry out).
    enum { READ_OK = Utils::FILE_READ, READ_MISSING = Utils::FILE_MISSING, READ_DAMAGED = Utils::FILE_DAMAGED };

    // Creates a board directory when missing: 1 when created, else 0.
    static int check_file_dir(QString dir);
    // Lists the directory's regular files into the recovery list (for
    // "/data/rcvrecovery") or the scan list (for "/data/smartmapping" or
    // "/mnt/usb1/"); 1 when it does not exist, else 0. Names starting with
    // '.' are no record files: the installer's temporary files are named so.
    int get_dir_file(QString dir);
    QStringList recovery_files() const;
    QStringList scan_files() const;
    // Forgets the listed files (their folder was emptied).
    void clear_recovery_list();
    void clear_scan_list();

    int get_rcvPackedFileNum(QString path);
    int get_rcvPackedFileInfo(QString path, unsigned char i);
    int update_rcvScreenHead(QString path);
    int update_rcvScreenIDinfo(QString path, unsigned char i);
    int update_rcvXYscreenNetnum(QString path);
    int update_rcvXYscreenNetpara(QString path, unsigned short i);
    int update_rcvXYrcvOperateTimes(QString path, unsigned char j, bool raw);
    int update_rcvXYrcvOperatepara(QString path, unsigned short k, bool raw);
    int update_smartDebugingOperateTimes(QString path, bool raw);
    int update_smartDebugingOperatepara(QString path, unsigned short k, bool raw);
    int update_rcvOperatedata(QString path, uint64_t offset, unsigned char* buf, unsigned short n);
    // Checks the current operation list before any of it is played: the
    // current card's block (cardList) or the parameter list (raw: the scan
    // file's). READ_DAMAGED when its records run past the file, or one asks
    // for a wait longer than kMaxWaitMs or sends data that lies outside the
    // file or (but for a RAM write, sent in pieces) exceeds one packet. The
    // two operation reads above refuse such a record the same way. How long
    // the whole list takes is not judged here: the job is bounded by the
    // time it has run.
    int check_operate_list(QString path, bool cardList, bool raw);
    // Checks the port tables of every screen of the pack (its screen head
    // read) before any port is asked: READ_DAMAGED when they list more
    // than kBoxPorts entries in all, or an entry names no port of the box.
    // The two port reads above refuse such a table or entry the same way.
    int check_port_tables(QString path);
    // Where the data offsets of a list count from: the port's first card
    // block, or the parameter list's count field.
    uint64_t card_list_base() const;
    uint64_t para_list_base(bool raw) const;
    // Clears the current screen's parameter and XY offsets and lengths.
    void init_para();

    // Offset of the last sub-file of a type in the table (0 when none), and
    // whether the table holds one.
    u32 subfile_offset(u8 type) const;
    bool has_subfile(u8 type) const;
    // Sub-files declared by the pack head.
    u8 subfile_count() const { return head[3]; }

    u8 head[4] = {};
    RCV_SUBFILE subfile[kMaxSubfiles];
    QString file_path;
    uint64_t data_offset = 0; // file offset of the current operation's data
    RCV_SCREEN_HEAD screen_head;
    RCV_SCREEN_INFO screen;
    RCV_NET_PARA net;
    RCV_OPERATE operate;
    u8 file_head[16] = {};
    u8 xy_head[16] = {};
    u16 net_num = 0;
    u32 block_offset = 0; // of the current card's block from the port's first block
    u16 op_num = 0;

  private:
    uint64_t screen_at(unsigned i) const;
    uint64_t port_table_at(u32 xy_offset) const;
    // The operation record at base + at; data offsets count from base.
    int read_operate(const QString& path, uint64_t base, uint64_t at);

    mutable QMutex lists_mutex_;
    QStringList recovery_list_;
    QStringList scan_list_;
};

// The record-file reader the pages list files with: the FPGA manager's, or one
// of their own while there is no manager.
rcvRecovery& record_file_reader();
