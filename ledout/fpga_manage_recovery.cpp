// The receiving-card check, recovery and scan-parameter load: one step
// machine over the record files (check: ask every port of every screen
// whether a card lost its set-up; recovery: replay that card's recorded
// operations; load: replay a scan-parameter file to every card of a port),
// with the operation player that sends each operation and waits for its
// acknowledgement.
#include <QMutexLocker>

#include "core/utils.h"
#include "core/zevrampara.h"
#include "ledout/fpga_jobs.h"
#include "ledout/fpga_manage.h"
#include "ledout/fpga_manage_jobs.h"
#include "ledout/rcv_recovery_file.h"

using namespace FpgaCards;

namespace
{
enum : u8 {
    kEndResult = 33,
    kEndError = 34,
    kEndErrorWait = 35,
};
// Player steps.
enum : u8 {
    kOpStart = 20,
    kOpCards = 21,
    kOpType = 22,
    kOpRamPacket = 23,
    kOpRegister = 24,
    kOpActivate = 25,
    kOpRamToFlash = 26,
    kOpReconfig = 27,
    kOpSleep = 28,
    kOpSearch = 29,
    kOpUserDefined = 30,
    kOpAwait = 31,
    kOpDone = 32,
};
constexpr u32 kSettleFrom = 80;
constexpr u32 kSettleTicks = 239;
constexpr u32 kCheckTicks = 500;
constexpr u32 kErrorEndTicks = 100;
// A RAM write goes to the cards in pieces of this many bytes.
constexpr u32 kPacketData = 1000;
// An unacknowledged packet is sent again at most this often.
constexpr u8 kRepeats = 3;
// Reads of an operation's data that fail in a row before the job gives up.
constexpr u8 kReadFailures = 5;
constexpr u16 kNoStatus = 0xFFFF;
constexpr u16 kNothingLost = 255;

fpga_jobs::Progress g_progress;
// The port entry at which the last check stopped (its index in the table).
u16 g_checkPortIndex = 0;
// Failed data reads in a row, and whether the player gave up on the job.
u8 g_readFailures = 0;
bool g_playerFailed = false;

void stampBoth()
{
    const u32 now = G_timeTicks.load();
    g_send_para.step_stamp = now;
    g_change.search_stamp = now;
    g_change.pulse_count = 0;
}

// Progress at item index of count items.
int percentOf(unsigned index, unsigned count)
{
    return int((100u + 100u * index) / (count + 1u));
}

// The step of the player that sends an operation of this type.
u8 sendingStep(const RCV_OPERATE& op)
{
    switch (op.type) {
    case RCV_OP_WRITE:
        return op.target == RCV_TARGET_RAM ? kOpRamPacket : kOpRegister;
    case RCV_OP_RAM2FLASH:
        return kOpRamToFlash;
    case RCV_OP_ACTIVE_FIRMWARE:
        return kOpActivate;
    case RCV_OP_RECONFIG:
        return kOpReconfig;
    case RCV_OP_SEARCH:
        return kOpSearch;
    default:
        return kOpUserDefined;
    }
}
} // namespace

int fpga_manage::load_rcv_xy_operate(QString path, uint64_t dataOffset, bool raw)
{
    SEND_PARA& j = g_send_para;
    rcvRecovery& r = *rcv_file;
    RCV_OPERATE& op = r.operate;
    const u16 ledPort = r.net.net_ledx;
    const u8 port = u8(ledPort);
    u8 packet[kMaxPacket];
    auto fail = [&] {
        g_playerFailed = true;
        j.op_step = kOpDone;
    };
    // Sends what the builder made (nothing when it refused the data).
    auto send = [&](int length) {
        if (length <= 0) {
            fail();
            return;
        }
        j.answer_flag = 0;
        Send_to_port(packet, u16(length), port, 0);
        j.step_stamp = G_timeTicks.load();
        j.op_step = kOpAwait;
    };
    // An operation's data (at most one packet's worth); false after a read
    // that failed, which is tried again next pass a bounded number of times.
    auto readData = [&](uint64_t at, u32 n, u8* out) {
        if (r.update_rcvOperatedata(path, at, out, u16(n)) == rcvRecovery::READ_OK) {
            g_readFailures = 0;
            return true;
        }
        j.step_stamp = G_timeTicks.load();
        if (++g_readFailures >= kReadFailures)
            fail();
        return false;
    };
    auto nextCardDown = [&](u8 back) {
        if (j.address_card > 0) {
            --j.address_card;
            j.op_step = back;
        } else {
            j.op_step = kOpDone;
        }
    };

    switch (j.op_step) {
    case kOpStart:
        j.retry = 0;
        g_readFailures = 0;
        j.op_step = kOpCards;
        break;
    case kOpCards:
        // Only the first FPGA's ports can be served.
        if (ledPort >= kPorts) {
            j.op_step = kOpDone;
            break;
        }
        j.card_count = get_port_card_num(port);
        j.address_card = raw ? u16(j.card_count ? j.card_count - 1 : 0) : j.card_num;
        j.op_step = kOpType;
        break;
    case kOpType:
        j.op_sent = 0;
        j.op_packets = 1;
        switch (op.type) {
        case RCV_OP_WRITE:
            if (op.target == RCV_TARGET_RAM) {
                const u32 packets = op.dataLen == 0 ? 1 : (op.dataLen + kPacketData - 1) / kPacketData;
                if (packets > 0xFFFF) {
                    fail();
                    break;
                }
                j.op_packets = u16(packets);
                j.op_step = kOpRamPacket;
            } else if (op.target == RCV_TARGET_REG) {
                j.op_step = kOpRegister;
            } else {
                j.op_step = kOpDone;
            }
            break;
        case RCV_OP_RAM2FLASH: {
            const uint64_t t = uint64_t(op.timeticks) + 1000ull * j.card_count;
            op.timeticks = t > UINT32_MAX ? UINT32_MAX : u32(t);
            j.op_step = kOpRamToFlash;
            break;
        }
        case RCV_OP_ACTIVE_FIRMWARE:
            j.op_step = kOpActivate;
            break;
        case RCV_OP_RECONFIG:
            j.op_step = kOpReconfig;
            break;
        case RCV_OP_SLEEP:
            j.step_stamp = G_timeTicks.load();
            j.op_step = kOpSleep;
            break;
        case RCV_OP_SEARCH:
            j.op_step = kOpSearch;
            break;
        case RCV_OP_USER_DEFINED:
            j.op_step = kOpUserDefined;
            break;
        default:
            // A card upgrade or an unknown type: not carried out here.
            j.op_step = kOpDone;
            break;
        }
        break;
    case kOpRamPacket: {
        if (j.retry == 0 && j.op_sent < j.op_packets)
            ++j.op_sent;
        const u32 done = kPacketData * u32(j.op_sent - 1);
        const u32 n = op.dataLen - done < kPacketData ? op.dataLen - done : kPacketData;
        u8 data[kPacketData];
        if (n && !readData(dataOffset + done, n, data))
            break;
        send(load_write_ram_cmd_create(port, j.address_card, op.targetAddr + done, data, u16(n), packet, raw));
        break;
    }
    case kOpRegister:
    case kOpActivate:
    case kOpReconfig:
    case kOpSearch:
    case kOpUserDefined: {
        // The data must fit one packet.
        if (op.dataLen > kMaxPacket) {
            fail();
            break;
        }
        if (j.retry == 0)
            ++j.op_sent;
        u8 data[kMaxPacket];
        if (op.dataLen && !readData(dataOffset, op.dataLen, data))
            break;
        const u16 n = u16(op.dataLen);
        const u16 card = j.address_card;
        int length = 0;
        switch (j.op_step) {
        case kOpRegister:
            length = load_write_reg_cmd_create(port, card, data, n, packet, raw);
            break;
        case kOpActivate:
            length = rcv_active_firmware_cmd_create(port, card, data, n, packet);
            break;
        case kOpReconfig:
            length = rcv_reconfig_cmd_create(port, card, data, n, packet);
            break;
        case kOpSearch:
            length = load_search_rxc_cmd_create(port, data, n, packet);
            break;
        default:
            length = load_write_user_defined_cmd_create(port, card, data, n, packet, raw);
            break;
        }
        send(length);
        break;
    }
    case kOpRamToFlash:
        if (j.retry == 0)
            ++j.op_sent;
        send(save_para2flash_cmd_create(port, j.address_card, packet, raw));
        break;
    case kOpSleep:
        if (Utils::getTimeSpace(j.step_stamp) >= op.timeticks / 10)
            j.op_step = kOpDone;
        break;
    case kOpAwait: {
        const bool cardByCard = op.type == RCV_OP_ACTIVE_FIRMWARE || op.type == RCV_OP_RECONFIG;
        const u8 again = sendingStep(op);
        if (j.answer_flag.exchange(0) == 1) {
            j.retry = 0;
            if (cardByCard) {
                if (raw)
                    nextCardDown(again);
                else
                    j.op_step = kOpDone;
            } else {
                j.op_step = j.op_sent < j.op_packets ? u8(kOpRamPacket) : u8(kOpDone);
            }
            break;
        }
        if (Utils::getTimeSpace(j.step_stamp) <= op.timeticks / 10)
            break;
        if (j.retry < kRepeats) {
            ++j.retry;
            j.op_step = again;
            break;
        }
        // Sent four times without an answer: the cards did not take it.
        g_progress.note_unanswered();
        j.retry = 0;
        if (again == kOpRamPacket && j.op_sent < j.op_packets)
            j.op_step = kOpRamPacket;
        else if (cardByCard && raw)
            nextCardDown(again);
        else
            j.op_step = kOpDone;
        break;
    }
    case kOpDone:
        return 1;
    default:
        j.op_step = kOpDone;
        break;
    }
    return j.op_step == kOpDone ? 1 : 0;
}

void fpga_manage::rcv_recovery_check_deal(RCV_CHECK_OR_RECOVERY mode)
{
    SEND_PARA& j = g_send_para;
    // Before anything can end the job: its end goes to the page that posted
    // it even when host traffic held it at step 0 until its bound.
    if (j.step() == 0)
        g_progress.begin(mode == RCV_SCAN_LOAD);
    // Past its bound the job ends with its error, host traffic or not (the
    // end sends nothing to the cards).
    if (fpga_jobs_overdue()) {
        if (j.step() < kEndResult) {
            g_progress.note_cut();
            j.set_step(kEndError);
        }
    } else if (fpga_jobs_host_pause(this)) {
        return;
    }
    rcvRecovery& r = *rcv_file;
    const bool raw = mode == RCV_SCAN_LOAD;
    const u8 step = j.step();
    auto go = [&](u8 next) { j.set_step(next); };
    auto progress = [&](int percent) { g_progress.step(percent); };
    auto pulse = [&] { fpga_jobs_pulse(g_progress); };
    // After the player finished an operation: a failed one ends the job.
    auto played = [&] {
        if (!load_rcv_xy_operate(r.file_path, r.data_offset, raw))
            return false;
        if (g_playerFailed) {
            go(kEndError);
            return false;
        }
        return true;
    };
    // A recovery plays the screen's parameter list (when it has one), then
    // the card's own list: both are checked before either is played.
    auto recoveryListsSound = [&](bool para) {
        if (para && (r.update_smartDebugingOperateTimes(r.file_path, false) != 0 ||
                     r.check_operate_list(r.file_path, false, false) != 0))
            return false;
        return r.update_rcvXYscreenNetnum(r.file_path) == 0 &&
               r.update_rcvXYscreenNetpara(r.file_path, g_checkPortIndex) == 0 && rcv_card < r.net.net_rcv_num &&
               r.update_rcvXYrcvOperateTimes(r.file_path, rcv_card, false) == 0 &&
               r.check_operate_list(r.file_path, true, false) == 0;
    };
    auto nextScreen = [&] {
        j.port_index = 0;
        ++j.screen_index;
        go(j.screen_index >= r.screen_head.screen_num ? kEndResult : 6);
    };

    switch (step) {
    case 0:
        g_playerFailed = false;
        check_config_armed = 0;
        j.check_status = kNoStatus;
        if (!get_fpga_status()) {
            go(kEndError);
            break;
        }
        j.step_stamp = G_timeTicks.load();
        progress(0);
        go(1);
        break;
    case 1: {
        const u32 e = Utils::getTimeSpace(j.step_stamp);
        if (e >= kSettleFrom)
            progress(int(100 * e / 500));
        if (e > kSettleTicks)
            go(2);
        break;
    }
    case 2:
        if (mode == RCV_SCAN_LOAD) {
            if (r.get_dir_file(rcvRecovery::kSmartDir) != 0 || r.scan_files().isEmpty()) {
                if (r.get_dir_file(rcvRecovery::kUsbDir) != 0) {
                    go(kEndError);
                    break;
                }
            }
            if (r.scan_files().isEmpty()) {
                go(kEndResult);
                break;
            }
            r.init_para();
            r.file_path = g_kqfile_name.get();
            j.step_stamp = G_timeTicks.load();
            progress(0);
            go(17);
            break;
        }
        {
            if (r.get_dir_file(rcvRecovery::kRecoveryDir) != 0) {
                go(kEndError);
                break;
            }
            const QStringList files = r.recovery_files();
            if (files.size() != 1) {
                go(kEndResult);
                break;
            }
            r.file_path = QString(rcvRecovery::kRecoveryDir) + "/" + files.first();
            if (r.get_rcvPackedFileNum(r.file_path) != 0) {
                go(kEndError);
                break;
            }
            j.step_stamp = G_timeTicks.load();
            progress(0);
            go(3);
        }
        break;
    case 3:
        for (unsigned char e = 0; e < r.subfile_count(); ++e)
            if (r.get_rcvPackedFileInfo(r.file_path, e) != 0) {
                go(kEndError);
                return;
            }
        j.step_stamp = G_timeTicks.load();
        progress(step * 100 / 35);
        go(4);
        break;
    case 4:
        j.check_status = kNoStatus;
        go(r.has_subfile(RCV_SUB_SCREEN) || r.subfile_count() == 0 ? 5 : kEndError);
        break;
    case 5:
        // Port tables that list more ports than the box has would hold the
        // job (5 s a silent port) for hours.
        if (r.update_rcvScreenHead(r.file_path) != 0 || r.check_port_tables(r.file_path) != 0) {
            go(kEndError);
            break;
        }
        j.screen_index = mode == RCV_CHECK ? 0 : rcv_screen;
        progress(step * 100 / 35);
        go(6);
        break;
    case 6:
        if (r.update_rcvScreenIDinfo(r.file_path, j.screen_index) != 0) {
            go(kEndError);
            break;
        }
        if (mode == RCV_CHECK) {
            progress((100 + 100 * j.screen_index) / (r.screen_head.screen_num + 1));
            go(8);
        } else {
            go(7);
        }
        break;
    case 7: {
        const bool anyTable = r.subfile_count() == 0;
        const bool para = r.screen.rcv_para_len != 0;
        if (para)
            go(r.has_subfile(RCV_SUB_PARA) || anyTable ? 17 : kEndError);
        else if (r.screen.rcv_xy_len != 0)
            go(r.has_subfile(RCV_SUB_XY) || anyTable ? 8 : kEndError);
        else
            go(kEndError);
        if (j.step() != kEndError && !recoveryListsSound(para))
            go(kEndError);
        break;
    }
    case 8:
        if (r.update_rcvXYscreenNetnum(r.file_path) != 0) {
            go(kEndError);
            break;
        }
        if (mode == RCV_CHECK) {
            j.port_index = 0;
            if (r.net_num == 0) {
                nextScreen();
                break;
            }
        } else {
            j.port_index = g_checkPortIndex;
        }
        progress(step * 100 / 35);
        go(9);
        break;
    case 9:
        j.check_status = kNoStatus;
        if (r.update_rcvXYscreenNetpara(r.file_path, j.port_index) != 0) {
            go(kEndError);
            break;
        }
        if (mode == RCV_CHECK) {
            progress(percentOf(j.port_index, r.net_num));
            go(13);
        } else if (rcv_card >= r.net.net_rcv_num) {
            go(kEndError);
        } else {
            j.card_num = rcv_card;
            progress(28);
            go(10);
        }
        break;
    case 10: {
        j.op_index = 0;
        if (r.update_rcvXYrcvOperateTimes(r.file_path, j.card_num, false) != 0 ||
            r.check_operate_list(r.file_path, true, false) != 0) {
            go(kEndError);
            break;
        }
        go(r.op_num == 0 ? kEndResult : 11);
        break;
    }
    case 11:
        if (r.update_rcvXYrcvOperatepara(r.file_path, j.op_index, false) != 0) {
            go(kEndError);
            break;
        }
        r.data_offset = r.card_list_base() + r.operate.offset;
        j.op_step = kOpStart;
        progress(percentOf(j.op_index, r.op_num));
        stampBoth();
        go(12);
        break;
    case 12:
        if (!played()) {
            if (j.step() == 12)
                pulse();
            break;
        }
        if (++j.op_index >= r.op_num) {
            go(kEndResult);
        } else {
            j.op_step = kOpStart;
            go(11);
        }
        break;
    case 13: {
        const u16 port = r.net.net_ledx;
        if (port >= kPorts) {
            // Not a port of the first FPGA: nothing to ask there.
            go(15);
            break;
        }
        check_config_id = r.screen.config_id;
        check_config_armed = 1;
        j.check_status = kNoStatus;
        check_error_rcv_search_card_cmd(port, 0, r.screen.config_id, 0, r.recovery_files().isEmpty() ? 0 : 1);
        progress(step * 100 / 35);
        stampBoth();
        go(14);
        break;
    }
    case 14: {
        const u16 status = j.check_status.load();
        if (status < kNoStatus) {
            go(status == kNothingLost ? 15 : kEndResult);
        } else if (Utils::getTimeSpace(j.step_stamp) > kCheckTicks) {
            // Taken as nothing to recover, but the page says the port was
            // silent.
            g_progress.note_unanswered();
            go(15);
        } else {
            pulse();
        }
        break;
    }
    case 15:
        if (++j.port_index < r.net_num)
            go(9);
        else
            nextScreen();
        break;
    case 17: {
        // A scan file's list is all its load plays; a recovery's list was
        // checked with the card's at step 7, and is checked again as read.
        if (r.update_smartDebugingOperateTimes(r.file_path, raw) != 0 ||
            r.check_operate_list(r.file_path, false, raw) != 0) {
            go(kEndError);
            break;
        }
        j.op_index = 0;
        if (mode == RCV_SCAN_LOAD) {
            r.net.net_ledx = line_type.port;
            if (get_port_card_num(line_type.port) == 0)
                go(kEndError);
            else
                go(r.op_num == 0 ? kEndResult : 18);
        } else {
            r.net.net_ledx = rcv_port;
            j.card_num = rcv_card;
            const u16 cards = get_port_card_num(rcv_port);
            if (cards == 0 || rcv_card >= cards)
                go(kEndError);
            else
                go(r.op_num == 0 ? 8 : 18);
        }
        break;
    }
    case 18:
        if (r.update_smartDebugingOperatepara(r.file_path, j.op_index, raw) != 0) {
            go(kEndError);
            break;
        }
        r.data_offset = r.para_list_base(raw) + r.operate.offset;
        j.op_step = kOpStart;
        progress(percentOf(j.op_index, r.op_num));
        stampBoth();
        go(19);
        break;
    case 19:
        if (!played()) {
            if (j.step() == 19)
                pulse();
            break;
        }
        if (++j.op_index >= r.op_num) {
            j.op_index = 0;
            go(mode == RCV_SCAN_LOAD ? kEndResult : 8);
        } else {
            j.op_step = kOpStart;
            go(18);
        }
        break;
    case kEndResult: {
        check_config_armed = 0;
        const u16 status = j.check_status.load();
        const fpga_jobs::Hooks h = fpga_jobs::hooks();
        const bool pageOpen = h.recovery_page_open && h.recovery_page_open();
        if (status == kNothingLost || status == kNoStatus) {
            // A recovery the cards did not take leaves the card listed.
            if (mode == RCV_RECOVERY && pageOpen && fpga_jobs::result_flag() && !g_progress.unanswered()) {
                fpga_jobs::set_results(QStringList(), 0);
                ZevRamPara::test_signal(99);
            }
        } else if (pageOpen) {
            rcv_screen = j.screen_index;
            rcv_port = u8(r.net.net_ledx);
            rcv_card = u8(status);
            g_checkPortIndex = j.port_index;
            auto two = [](unsigned v) { return QString("%1").arg(v, 2, 10, QChar('0')); };
            const QString line = QStringList({two(rcv_screen + 1u), two(rcv_port + 1u), two(rcv_card + 1u),
                                              two(get_port_card_num(rcv_port))})
                                     .join("/");
            fpga_jobs::set_results(QStringList({line}), 1);
            ZevRamPara::test_signal(1);
        } else {
            ZevRamPara::test_signal(1);
        }
        j.finish();
        g_progress.end();
        break;
    }
    case kEndError:
        check_config_armed = 0;
        g_progress.note_failed();
        g_progress.end();
        j.step_stamp = G_timeTicks.load();
        go(kEndErrorWait);
        break;
    case kEndErrorWait:
        if (Utils::getTimeSpace(j.step_stamp) > kErrorEndTicks) {
            j.finish();
            j.step_stamp = G_timeTicks.load();
            ZevRamPara::test_signal(1);
        }
        break;
    default:
        // Steps 16, 20 to 32 and anything past 35 are not steps of this job.
        check_config_armed = 0;
        g_progress.note_failed();
        g_progress.end();
        j.finish();
        break;
    }
}
