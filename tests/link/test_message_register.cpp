// Command dispatch and the register commands, fed with frames as the PC tool
// sends them and checked byte for byte.
#include <QtTest>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include <QDir>
#include <QSettings>
#include <QSignalSpy>

#include "core/zevrampara.h"
#include "pc_frames.h"
#include "support/sim_fixture.h"
#include "video/c331_manage.h"

namespace
{
Bytes reg_rest(u8 reg, u8 mask, u8 value)
{
    return {reg, mask, 0x00, value};
}
u8* img()
{
    return ZevRamPara::p_zevrampara_config;
}
u8* shadow()
{
    return ZevRamPara::p_zevrampara_shadow;
}
} // namespace

class TestMessageRegister : public QObject
{
    Q_OBJECT
    SimFixture* sim = nullptr;
    message_deal md;
    QSignalSpy* spy = nullptr;

    bool ran(const std::string& cmd)
    {
        for (const std::string& c : sim->board().simShell().recorded())
            if (c == cmd)
                return true;
        return false;
    }
    QList<int> codes()
    {
        QList<int> out;
        for (const QList<QVariant>& args : *spy)
            out << args.at(0).toInt();
        return out;
    }

  private slots:
    void initTestCase()
    {
        sim = new SimFixture();
        ZevRamPara::pInstance();
        spy = new QSignalSpy(ZevRamPara::p_zevrampara, &ZevRamPara::sig_update_para);
    }
    void cleanupTestCase()
    {
        delete spy;
        delete sim;
    }
    void init()
    {
        spy->clear();
        sim->board().simShell().clearRecorded();
        std::memcpy(shadow(), img(), Img::kSize);
        std::memset(ZevRamPara::device.reg, 0, sizeof ZevRamPara::device.reg);
        c331_manage::para_update_flag = 0;
        g_update_flag = 0;
        g_app_reset_flag = 0;
        g_set_led_para = 0;
        ZevRamPara::image_file_unread = false;
    }

    void unknownGroupsGetNoReply()
    {
        QVERIFY(!send(md, request(kBox, 0x99, {0x00})).sent);
        // Groups whose commands are not in this program answer the same.
        QVERIFY(!send(md, request(kBox, 0x99, {0x00})).sent);
        // A sub-command outside a group's list.
        QVERIFY(!send(md, request(kBox, 0xA2, {33})).sent);
        QVERIFY(!send(md, request(kBox, 0xC0, {11})).sent);
    }

    void plainRegisterWithoutActionKeepsMaskedValue()
    {
        ZevRamPara::device.reg[20] = 0xF0;
        Bytes req = request(kBox, 0xA0, reg_rest(20, 0x0F, 0x35));
        Reply r = send(md, req);
        QCOMPARE(r.body, expected_reply(req, {0x01}));
        QCOMPARE(ZevRamPara::device.reg[20], u8(0xF5));
    }

    void registerAbove169Refused()
    {
        Bytes w = request(kBox, 0xA0, reg_rest(170, 0xFF, 1));
        QCOMPARE(send(md, w).body, expected_reply(w, {0x01}));
        Bytes r = request(kBox, 0xA1, reg_rest(170, 0, 0));
        QCOMPARE(send(md, r).body, expected_reply(r, {170, 0x01}));
    }

    void shortWriteChangesNothing()
    {
        // Register, mask and no value byte.
        Bytes req = request(kBox, 0xA0, {20, 0xFF, 0x00});
        QCOMPARE(send(md, req).body, expected_reply(req, {0x01}));
        QCOMPARE(ZevRamPara::device.reg[20], u8(0));
    }

    void readRegisterOfBox()
    {
        ZevRamPara::device.reg[7] = 0x44;
        Bytes r6 = request(kBox, 0xA1, {6, 0x5C, 0, 0});
        QCOMPARE(send(md, r6).body, expected_reply(r6, {0x00, 0x5C}));
        Bytes r7 = request(kBox, 0xA1, {7, 0x5C, 0, 0});
        QCOMPARE(send(md, r7).body, expected_reply(r7, {0x00, 0x00}));
        // The second box address answers the same.
        Bytes r4 = request(0xF101, 0xA1, {4, 0x33, 0, 0});
        QCOMPARE(send(md, r4).body, expected_reply(r4, {0x00, 0x33}));
    }

    void fpgaRegisterWithoutManagerRefused()
    {
        Bytes req = request(kFpga, 0xA0, reg_rest(3, 0xFF, 1), 0, 1);
        QCOMPARE(send(md, req).body, expected_reply(req, {0x01}));
    }

    void updateModeOpensOnce()
    {
        Bytes on = request(kBox, 0xA0, reg_rest(9, 0xFF, 0x10));
        QCOMPARE(send(md, on).body, expected_reply(on, {0x00}));
        QCOMPARE(g_update_flag.load(), u8(1));
        send(md, on);
        QCOMPARE(codes(), QList<int>{105});
        Bytes off = request(kBox, 0xA0, reg_rest(9, 0xFF, 0x0F));
        send(md, off);
        QCOMPARE(g_update_flag.load(), u8(0));
        QCOMPARE(codes(), (QList<int>{105, 106}));
        // Register 10 looks at the low seven bits.
        send(md, request(kBox, 0xA0, reg_rest(10, 0xFF, 0x80)));
        QCOMPARE(g_update_flag.load(), u8(0));
        send(md, request(kBox, 0xA0, reg_rest(10, 0xFF, 0x81)));
        QCOMPARE(g_update_flag.load(), u8(1));
    }

    void requestBytesOfSourceCheck()
    {
        send(md, request(kBox, 0xA0, reg_rest(160, 0x0F, 0xFF)));
        QCOMPARE(ZevRamPara::device.reg[32], u8(0x0F));
        Bytes r163 = request(kBox, 0xA0, reg_rest(163, 0x00, 4));
        QCOMPARE(send(md, r163).body, expected_reply(r163, {0x00}));
        QCOMPARE(ZevRamPara::device.reg[35], u8(5));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));
        send(md, request(kBox, 0xA0, reg_rest(165, 0xF0, 0xFF)));
        QCOMPARE(ZevRamPara::device.reg[33], u8(0xF0));
        send(md, request(kBox, 0xA0, reg_rest(162, 0xFF, 2)));
        QCOMPARE(ZevRamPara::device.reg[34], u8(2));
        send(md, request(kBox, 0xA0, reg_rest(164, 0xFF, 3)));
        QCOMPARE(ZevRamPara::device.reg[36], u8(3));
        // Registers 12 and 13 store nothing.
        Bytes r12 = request(kBox, 0xA0, reg_rest(12, 0xFF, 9));
        QCOMPARE(send(md, r12).body, expected_reply(r12, {0x00}));
        QCOMPARE(ZevRamPara::device.reg[12], u8(0));
    }

    // Register 0 is a request word the source-check thread takes and clears
    // in one step while the PC sets its bits (each again only once it was
    // served): every request is served exactly once.
    void requestWordServedOncePerRequest()
    {
        constexpr int kBits = 6;
        std::atomic<bool> done{false};
        std::atomic<long> served[kBits] = {};
        long asked[kBits] = {};
        auto take = [&served] {
            const u8 req = __atomic_exchange_n(&ZevRamPara::device.reg[0], u8(0), __ATOMIC_ACQ_REL);
            for (int b = 0; b < kBits; ++b)
                served[b] += (req >> b) & 1;
        };
        // Taken at short, uneven intervals: other bits are often still
        // pending when the PC sets the next one.
        std::thread sourceCheck([&] {
            for (unsigned spin = 0; !done.load(); ++spin) {
                for (volatile unsigned k = 0; k < spin % 64; k = k + 1) {
                }
                take();
            }
        });
        // The time only bounds how many requests are made, never what is
        // counted: a bit set again while still pending would be one request
        // for two, so when time is up no new request is made. The last take
        // below serves what is still pending; a lost request stays unserved.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (int i = 0; i < 300000; ++i) {
            const int b = i % kBits;
            while (served[b].load() < asked[b] && std::chrono::steady_clock::now() < deadline) {
            }
            if (served[b].load() < asked[b] || std::chrono::steady_clock::now() >= deadline)
                break;
            ++asked[b];
            // The reply goes into the request's bytes: a fresh copy each time.
            Bytes body = request(kBox, 0xA0, reg_rest(0, u8(1 << b), u8(1 << b)));
            md.write_register(body.data(), int(body.size()));
        }
        done = true;
        sourceCheck.join();
        take();
        for (int b = 0; b < kBits; ++b)
            QCOMPARE(served[b].load(), asked[b]);
    }

    void register161Actions()
    {
        const int w0 = ZevRamPara::layerOffset(0);
        img()[w0 + Img::kLayerP2p] = 0x01;
        ZevRamPara::put16(img(), w0 + Img::kLayerP2pMode, 0);
        Bytes same = request(kBox, 0xA0, reg_rest(161, 0x08, 0x08));
        QCOMPARE(send(md, same).body, expected_reply(same, {0x00}));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(0));

        send(md, request(kBox, 0xA0, reg_rest(161, 0x10, 0x10)));
        QCOMPARE(ZevRamPara::img16(w0 + Img::kLayerP2pMode), u16(8));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));
        c331_manage::para_update_flag = 0;
        send(md, request(kBox, 0xA0, reg_rest(161, 0x24, 0x24)));
        QCOMPARE(img()[w0 + Img::kLayerP2p] & 1, 0);
        QCOMPARE(ZevRamPara::img16(w0 + Img::kLayerP2pMode), u16(8));

        G_timeTicks = 1234;
        send(md, request(kBox, 0xA0, reg_rest(161, 0x01, 0x01)));
        QCOMPARE(g_app_reset_flag.load(), u8(1));
        QCOMPARE(G_reboot_tickTicks.load(), u32(1234));
    }

    void register11RecallsUserMode()
    {
        u8* slot = ZevRamPara::user_mode[2];
        slot[0] = slot[1] = 0xAA;
        std::memset(slot + 2, 0x3C, Img::kModeBytes);
        // A save asked beside the recall is made first, of the screen as it
        // stood.
        img()[Img::kModeStart + 100] = 0x5A;
        ZevRamPara::put16(img(), Img::kModeToSave, 5);
        send(md, request(kBox, 0x60, ram_rest(Img::kCurrentMode, 2, {3, 0})));
        Bytes req = request(kBox, 0xA0, reg_rest(11, 0x02, 0x02));
        QCOMPARE(send(md, req).body, expected_reply(req, {0x00}));
        QCOMPARE(img()[Img::kModeStart + 100], u8(0x3C));
        QCOMPARE(ZevRamPara::img16(Img::kCurrentMode), u16(3));
        QCOMPARE(ZevRamPara::img16(Img::kModeToSave), u16(0));
        QCOMPARE(ZevRamPara::mode_saves_asked(), u32(1u << 4));
        QCOMPARE(ZevRamPara::user_mode[4][2 + 100], u8(0x5A));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));

        // The mode already shown: the screen no longer shows a stored mode.
        std::memcpy(shadow(), img(), Img::kSize);
        send(md, request(kBox, 0xA0, reg_rest(11, 0x02, 0x02)));
        QCOMPARE(ZevRamPara::img16(Img::kCurrentMode), u16(0));

        // A recall written by the PC stands until register 11, also when a
        // page refresh copied the word into its shadow in between.
        img()[Img::kModeStart + 100] = 0x11;
        std::memcpy(shadow(), img(), Img::kSize);
        send(md, request(kBox, 0x60, ram_rest(Img::kCurrentMode, 2, {3, 0})));
        std::memcpy(shadow(), img(), Img::kSize);
        send(md, request(kBox, 0xA0, reg_rest(11, 0x02, 0x02)));
        QCOMPARE(img()[Img::kModeStart + 100], u8(0x3C));
        QCOMPARE(ZevRamPara::img16(Img::kCurrentMode), u16(3));

        // An out-of-range current mode recalls nothing.
        ZevRamPara::put16(img(), Img::kCurrentMode, 40);
        img()[Img::kModeStart + 100] = 0x11;
        send(md, request(kBox, 0xA0, reg_rest(11, 0x02, 0x02)));
        QCOMPARE(img()[Img::kModeStart + 100], u8(0x11));
    }

    // The PC recalls a mode by writing its number into word 866 and then
    // register 11: carried out whatever the word or its shadow held, after
    // any change, save or recall. Only a larger write that carries the word
    // unchanged (a whole image written back), or a later write of 0, asks
    // for none.
    void aPcRecallIsCarriedOut_data()
    {
        QTest::addColumn<QString>("between");
        QTest::addColumn<bool>("recalled");
        QTest::newRow("single-setting change") << "single" << true;
        QTest::newRow("BLACK key") << "black" << true;
        QTest::newRow("change and register 11, refreshed") << "apply refreshed" << true;
        QTest::newRow("change and register 11, no refresh yet") << "apply" << true;
        QTest::newRow("another PC recall, no refresh yet") << "recall" << true;
        QTest::newRow("the panel's recall of another mode") << "panel" << true;
        QTest::newRow("whole image written back") << "whole image" << false;
        QTest::newRow("recall taken back by a 0") << "zero" << false;
    }
    void aPcRecallIsCarriedOut()
    {
        QFETCH(QString, between);
        QFETCH(bool, recalled);
        const Bytes apply = request(kBox, 0xA0, reg_rest(11, 0x02, 0x02));
        auto write = [&](u32 at, const Bytes& data) {
            return send(md, request(kBox, 0x60, ram_rest(at, u16(data.size()), data))).status();
        };
        auto brightness = [] { return int(ZevRamPara::img16(Img::kBrightness)); };
        const int flags = ZevRamPara::layerOffset(0) + Img::kLayerFlags;
        // Mode 4 with brightness 20, mode 3 with 33 and shown.
        for (int mode : {4, 3}) {
            QCOMPARE(write(Img::kBrightness, {u8(mode == 3 ? 33 : 20), 0}), u8(0));
            QCOMPARE(write(Img::kCurrentMode, {0, 0, u8(mode), 0}), u8(0));
            QCOMPARE(send(md, apply).status(), u8(0));
        }
        QCOMPARE(ZevRamPara::img16(Img::kCurrentMode), u16(3));
        const u8 black = img()[flags];
        if (between == "single" || between == "zero") {
            QCOMPARE(send(md, request(kBox, 0xB0, {0x31, 0, 6, 70, 0})).status(), u8(0));
        } else if (between == "black") {
            g_image_current = 0;
            ZevRamPara::ZevSetImageBlack();
        } else if (between.startsWith("apply")) {
            QCOMPARE(write(Img::kBrightness, {70, 0}), u8(0));
            QCOMPARE(send(md, apply).status(), u8(0));
            if (between.endsWith("refreshed"))
                std::memcpy(shadow(), img(), Img::kSize);
        } else if (between == "recall") {
            QCOMPARE(write(Img::kCurrentMode, {4, 0}), u8(0));
            QCOMPARE(send(md, apply).status(), u8(0));
            QCOMPARE(brightness(), 20);
        } else if (between == "panel") {
            c331_apply(1, [] { ZevRamPara::recall_mode(3); });
            QCOMPARE(brightness(), 20);
        }
        if (between == "whole image") {
            // The PC reads the image, changes one value and writes it all
            // back: the mode word goes with it unchanged.
            Bytes image(img(), img() + Img::kSize);
            image[Img::kBrightness] = 70;
            for (u32 at = 0; at < Img::kSize; at += 1024)
                QCOMPARE(write(at, Bytes(image.begin() + at, image.begin() + at + 1024)), u8(0));
        } else {
            QCOMPARE(write(Img::kCurrentMode, {3, 0}), u8(0));
        }
        if (between == "zero")
            QCOMPARE(write(Img::kCurrentMode, {0, 0}), u8(0));
        const int before = brightness();
        QCOMPARE(send(md, apply).status(), u8(0));
        QCOMPARE(brightness(), recalled ? 33 : before);
        QCOMPARE(ZevRamPara::img16(Img::kCurrentMode), u16(recalled ? 3 : 0));
        QCOMPARE(img()[flags], black);
    }

    // Which PC write of the mode words asks a save, which a recall, and a
    // register 11 that finds both: the save first, of the screen as it
    // stood, then the recall. Modes 4 (brightness 20) and 3 (33) are saved,
    // 3 is shown, and a single setting made the screen's brightness 66.
    void whichWriteAsksWhat_data()
    {
        QTest::addColumn<QString>("writes");
        QTest::addColumn<int>("saved");
        QTest::addColumn<int>("brightness");
        QTest::addColumn<int>("mode");
        QTest::newRow("both words as read, 868 = 6") << "03000600@866" << 6 << 66 << 6;
        QTest::newRow("868 alone") << "0600@868" << 6 << 66 << 6;
        QTest::newRow("866 then 868, two writes") << "0300@866 0800@868" << 8 << 33 << 3;
        QTest::newRow("868 then 866, two writes") << "0800@868 0300@866" << 8 << 33 << 3;
        QTest::newRow("both words, 866 changed") << "04000800@866" << 8 << 20 << 4;
        QTest::newRow("866 alone") << "0400@866" << 0 << 20 << 4;
        QTest::newRow("whole image with 868 = 8") << "image=8" << 8 << 66 << 8;
        QTest::newRow("whole image as read") << "image=0" << 0 << 66 << 0;
        QTest::newRow("second client's save beside a recall asked") << "0400@866 04000900@866" << 9 << 20 << 4;
        QTest::newRow("second client's 868 beside a recall asked") << "0400@866 0900@868" << 9 << 20 << 4;
        // A page refresh that takes word 868 before the register 11: the
        // same save, still named by word 866 unless the PC changed the
        // screen after it.
        QTest::newRow("both words as read, a refresh between") << "03000600@866 refresh" << 6 << 66 << 6;
        QTest::newRow("868 alone, a refresh and a change between") << "0600@868 refresh 5000@2176" << 6 << 80 << 0;
    }
    void whichWriteAsksWhat()
    {
        QFETCH(QString, writes);
        QFETCH(int, saved);
        QFETCH(int, brightness);
        QFETCH(int, mode);
        const Bytes apply = request(kBox, 0xA0, reg_rest(11, 0x02, 0x02));
        auto write = [&](u32 at, const Bytes& data) {
            return send(md, request(kBox, 0x60, ram_rest(at, u16(data.size()), data))).status();
        };
        for (int s = 0; s < kUserModeCount; ++s) {
            C331Lock lock;
            ZevRamPara::empty_mode_slot(s);
        }
        for (int m : {4, 3}) {
            QCOMPARE(write(Img::kBrightness, {u8(m == 3 ? 33 : 20), 0}), u8(0));
            QCOMPARE(write(Img::kCurrentMode, {0, 0, u8(m), 0}), u8(0));
            QCOMPARE(send(md, apply).status(), u8(0));
        }
        QCOMPARE(send(md, request(kBox, 0xB0, {0x31, 0, 6, 66, 0})).status(), u8(0));
        QCOMPARE(ZevRamPara::img16(Img::kCurrentMode), u16(3));
        for (const QString& w : writes.split(' ')) {
            if (w == "refresh") {
                C331Lock lock;
                ZevRamPara::take_mode_save_word(true);
                continue;
            }
            if (w.startsWith("image")) {
                Bytes image(img(), img() + Img::kSize);
                image[Img::kModeToSave] = u8(w.section('=', 1).toInt());
                for (u32 at = 0; at < Img::kSize; at += 1024)
                    QCOMPARE(write(at, Bytes(image.begin() + at, image.begin() + at + 1024)), u8(0));
                continue;
            }
            const QByteArray hex = QByteArray::fromHex(w.section('@', 0, 0).toLatin1());
            QCOMPARE(write(w.section('@', 1).toUInt(), Bytes(hex.begin(), hex.end())), u8(0));
        }
        QCOMPARE(send(md, apply).status(), u8(0));
        QCOMPARE(int(ZevRamPara::img16(Img::kBrightness)), brightness);
        QCOMPARE(int(ZevRamPara::img16(Img::kCurrentMode)), mode);
        QCOMPARE(int(ZevRamPara::img16(Img::kModeToSave)), 0);
        for (int s = 0; s < kUserModeCount; ++s) {
            C331Lock lock;
            const bool stored = ZevRamPara::ZevUserModeSaved(s);
            QCOMPARE(stored, s == 2 || s == 3 || s + 1 == saved);
            if (s + 1 == saved)
                QCOMPARE(int(ZevRamPara::get16(ZevRamPara::user_mode[s], 2 + Img::kBrightness - Img::kModeStart)), 66);
        }
    }

    void register11SwitchModeAndAudio()
    {
        ZevRamPara::put16(img(), 2118, 1);
        ZevRamPara::put16(img(), Img::kAudioLayer, 9);
        img()[ZevRamPara::layerOffset(3) + Img::kLayerFlags] = 0x0F;
        send(md, request(kBox, 0xA0, reg_rest(11, 0x02, 0x00)));
        QCOMPARE(img()[ZevRamPara::layerOffset(3) + Img::kLayerFlags], u8(0x07));
        QCOMPARE(img()[ZevRamPara::layerOffset(0) + Img::kLayerFlags] & 0x0C, 0x04);
        QCOMPARE(ZevRamPara::img16(Img::kAudioLayer), u16(0));
        send(md, request(kBox, 0xA0, reg_rest(11, 0x04, 0x00)));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(2));
    }

    // The rewrite of the modes asked with register 11 bit 2 is not lost to
    // an edit applied before the video processor took it.
    void aPendingRewriteOutlastsAnEdit()
    {
        send(md, request(kBox, 0xA0, reg_rest(11, 0x04, 0x00)));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(2));
        QCOMPARE(send(md, request(kBox, 0xB0, {0x31, 0, 6, 45, 0})).status(), u8(0));
        QCOMPARE(send(md, request(kBox, 0xA0, reg_rest(11, 0x02, 0x02))).status(), u8(0));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(2));
    }

    void register11LedSizeChangeTakesCropSources()
    {
        ZevRamPara::put16(img(), Img::kLedWidth, u16(ZevRamPara::shadow16(Img::kLedWidth) + 64));
        const int crop = 7;
        img()[Img::kCropTable + Img::kCropSize * crop] = 0x23;
        const int src1 = ZevRamPara::layerOffset(1) + Img::kLayerSource;
        ZevRamPara::put16(img(), src1, u16(0x8000 | crop));
        // A reference beyond the crop table keeps its word.
        const int src2 = ZevRamPara::layerOffset(2) + Img::kLayerSource;
        ZevRamPara::put16(img(), src2, u16(0x80FF));
        send(md, request(kBox, 0xA0, reg_rest(11, 0x02, 0x00)));
        QCOMPARE(ZevRamPara::img16(src1), u16(3));
        QCOMPARE(ZevRamPara::img16(src2), u16(0x80FF));
        // No FPGA is up: no LED re-set-up is requested.
        QCOMPARE(g_set_led_para.load(), u8(0));
    }

    void register11OsdReload()
    {
        g_osd_update = 0;
        ZevRamPara::put16(img(), Img::kOsdMenuFlag, 0);
        send(md, request(kBox, 0xA0, reg_rest(11, 0x08, 0x00)));
        QCOMPARE(g_osd_update.load(), u8(0));
        ZevRamPara::put16(img(), Img::kOsdMenuFlag, 1);
        send(md, request(kBox, 0xA0, reg_rest(11, 0x08, 0x00)));
        QCOMPARE(g_osd_update.load(), u8(1));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));
    }

    void register14InstallsAndRestarts()
    {
        g_update_status = 0;
        G_timeTicks = 500;
        Bytes req = request(kBox, 0xA0, reg_rest(14, 0x01, 0x00));
        // No received application: nothing to restart into.
        QFile::remove(sim->hostQ("/data/app/zevQ64N2"));
        QCOMPARE(send(md, req).body, expected_reply(req, {0x01}));
        QCOMPARE(g_app_reset_flag.load(), u8(0));
        QVERIFY(QDir().mkpath(sim->hostQ("/data/app")));
        QVERIFY(writeHostFile(sim->hostQ("/data/app/zevQ64N2"), "new"));
        QCOMPARE(send(md, req).body, expected_reply(req, {0x00}));
        QCOMPARE(g_app_reset_flag.load(), u8(1));
        QCOMPARE(G_reboot_tickTicks.load(), u32(500));
        QVERIFY(ran("chmod 777 -R /data/app"));
        QVERIFY(ran("mv /data/app/zevQ64N2  /data/app/zevQ64N"));
        QVERIFY(ran("sync"));
        QSettings ini(sim->hostQ("/data/configs/led_load_config.ini"), QSettings::IniFormat);
        QCOMPARE(ini.value("app-1/app_path").toString(), QString("/data/app/zevQ64N -platform linuxfb"));
        QCOMPARE(ini.value("app-1/app_name").toString(), QString("zevQ64N"));

        // A restart already pending: the bit does nothing.
        sim->board().simShell().clearRecorded();
        G_timeTicks = 900;
        send(md, req);
        QCOMPARE(G_reboot_tickTicks.load(), u32(500));
        QVERIFY(sim->board().simShell().recorded().empty());

        send(md, request(kBox, 0xA0, reg_rest(14, 0x02, 0x00)));
        QVERIFY(ran("reboot"));
    }

    // An install whose start-up line cannot be written answers failure
    // before it replaces anything: the old application stays.
    void register14FailsBeforeReplacingTheApplication()
    {
        g_update_status = 0;
        const QString ini = sim->hostQ("/data/configs/led_load_config.ini");
        const QByteArray line = readHostFile(ini);
        QVERIFY(QFile::remove(ini) && QDir().mkpath(ini + "/in-the-way"));
        QVERIFY(writeHostFile(sim->hostQ("/data/app/zevQ64N"), "old"));
        QVERIFY(writeHostFile(sim->hostQ("/data/app/zevQ64N2"), "new"));
        Bytes req = request(kBox, 0xA0, reg_rest(14, 0x01, 0x00));
        QCOMPARE(send(md, req).body, expected_reply(req, {0x01}));
        QCOMPARE(readHostFile(sim->hostQ("/data/app/zevQ64N")), QByteArray("old"));
        QCOMPARE(g_app_reset_flag.load(), u8(0));
        QVERIFY(QDir(ini).removeRecursively() && writeHostFile(ini, line));
    }

    void register16FactoryResets()
    {
        const u8* defaults = default_para_ramlist;
        std::memset(img() + Img::kPersistStart, 0x77, Img::kSize - Img::kPersistStart);
        std::memcpy(shadow(), img(), Img::kSize);
        ZevRamPara::user_mode[4][0] = ZevRamPara::user_mode[4][1] = 0xAA;
        Bytes req = request(kBox, 0xA0, reg_rest(16, 0x01, 0x00));
        QCOMPARE(send(md, req).body, expected_reply(req, {0x00}));
        QVERIFY(ran("rm  -rf  /data/modes/*"));
        QCOMPARE(img()[Img::kPersistStart], defaults[2]);
        QCOMPARE(img()[Img::kBrightness], defaults[Img::kBrightness - 766]);
        // The EDID range is kept.
        QCOMPARE(img()[Img::kEdid], u8(0x77));
        QCOMPARE(img()[Img::kSpliceMode - 1], u8(0x77));
        QCOMPARE(ZevRamPara::user_mode[4][0], u8(0xFF));
        QCOMPARE(ZevRamPara::user_mode[4][1], u8(0xFF));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));

        send(md, request(kBox, 0xA0, reg_rest(16, 0x02, 0x00)));
        QCOMPARE(img()[Img::kEdid], defaults[Img::kEdid - 766]);

        img()[Img::kBrightness] = 0x77;
        img()[Img::kQualityEnd] = 0x77;
        send(md, request(kBox, 0xA0, reg_rest(16, 0x10, 0x00)));
        QCOMPARE(img()[Img::kBrightness], defaults[Img::kBrightness - 766]);
        QCOMPARE(img()[Img::kQualityEnd], u8(0x77));
    }

    // The stored image could not be read at start: a change nothing can
    // store is refused, and a factory reset that cannot write the factory
    // image in its place removes nothing.
    void unreadImageRefusesChanges()
    {
        struct Row {
            const char* name;
            Bytes rest;
            u8 group;
            Bytes reply;
        } rows[] = {
            {"brightness", ram_rest(Img::kBrightness, 2, {44, 0}), 0x60, {1}},
            {"apply", reg_rest(11, 0x02, 0x02), 0xA0, {1}},
            {"point to point", reg_rest(161, 0x08, 0x08), 0xA0, {1}},
            {"picture defaults", reg_rest(16, 0x10, 0x10), 0xA0, {1}},
            {"single setting", {0x31, 0, 6, 44, 0}, 0xB0, {1, 0x31}},
            {"source timings", ram_rest(Img::kSourceTiming, 2, {1, 2}), 0x60, {0}},
        };
        ZevRamPara::image_file_unread = true;
        for (const Row& r : rows) {
            const QByteArray before(reinterpret_cast<const char*>(img()) + Img::kPersistStart,
                                    Img::kSize - Img::kPersistStart);
            Bytes req = request(kBox, r.group, r.rest);
            QVERIFY2(send(md, req).body == expected_reply(req, r.reply), r.name);
            QVERIFY2(before == QByteArray(reinterpret_cast<const char*>(img()) + Img::kPersistStart,
                                          Img::kSize - Img::kPersistStart),
                     r.name);
        }
        const QString file = sim->hostQ("/data/ram_device_info");
        QFile::remove(file);
        QVERIFY(QDir().mkpath(file + "/blocker"));
        ZevRamPara::user_mode[4][0] = ZevRamPara::user_mode[4][1] = 0xAA;
        img()[Img::kBrightness] = 0x55;
        Bytes reset = request(kBox, 0xA0, reg_rest(16, 0x01, 0x01));
        QCOMPARE(send(md, reset).body, expected_reply(reset, {0x01}));
        QVERIFY(!ran("rm  -rf  /data/modes/*"));
        QCOMPARE(ZevRamPara::user_mode[4][0], u8(0xAA));
        QCOMPARE(img()[Img::kBrightness], u8(0x55));
        QVERIFY(QDir(file).removeRecursively());
    }

    void register16NetworkReset()
    {
        Utils::set_net_address("192.168.0.199", "255.255.255.0", "192.168.0.1");
        send(md, request(kBox, 0xA0, reg_rest(16, 0x20, 0x00)));
        QVERIFY(codes().isEmpty());
        Utils::set_net_address("10.0.0.5", "255.255.255.0", "10.0.0.1");
        send(md, request(kBox, 0xA0, reg_rest(16, 0x20, 0x00)));
        QCOMPARE(codes(), QList<int>{3});
    }

    void commandsRunOneAtATime()
    {
        // Another link holds the command lock: this link's command waits.
        Bytes req = with_bcc(request(kBox, 0xA0, reg_rest(20, 0xFF, 0x42)));
        std::vector<u8> work(pc::kWorkSize);
        Bytes w = wire(req);
        const int len = protocol_phy::accept_frame(w.data(), int(w.size()), work.data(), int(work.size()));
        std::atomic<int> result{-1};
        message_deal other;
        message_deal::command_mutex.lock();
        std::thread link([&] { result = other.message_group_deal(work.data(), len, 5); });
        QTest::qWait(50);
        QCOMPARE(result.load(), -1);
        QCOMPARE(ZevRamPara::device.reg[20], u8(0));
        message_deal::command_mutex.unlock();
        link.join();
        QCOMPARE(result.load(), 1);
        QCOMPARE(ZevRamPara::device.reg[20], u8(0x42));
    }

    void actionRegistersAnswerSuccess()
    {
        // Register 0 has no action of its own (the source-check thread acts
        // on its request word): stored, but refused like any such register.
        struct Row {
            u8 reg;
            u8 status;
        } rows[] = {{0, 1}, {4, 0}, {5, 0}, {17, 0}};
        for (const Row& row : rows) {
            Bytes req = request(kBox, 0xA0, reg_rest(row.reg, 0x01, 0x01));
            QCOMPARE(send(md, req).body, expected_reply(req, {row.status}));
            QCOMPARE(ZevRamPara::device.reg[row.reg], u8(0x01));
        }
    }
};

QTEST_MAIN(TestMessageRegister)
#include "test_message_register.moc"
