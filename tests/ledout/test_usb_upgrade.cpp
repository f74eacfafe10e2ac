// Upgrade packages built byte by byte on a simulated USB stick: the
// application, the first FPGA's image and the OSD font installed when newer,
// and packages refused before anything is erased when a length does not fit.
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

#include <algorithm>
#include <unistd.h>

#include "board/sim/sim_c331.h"
#include "board/sim/sim_fpga.h"
#include "board/sim/sim_spi_flash.h"
#include "core/ini_file.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "ledout/fpga_drv.h"
#include "ledout/fpga_jobs.h"
#include "ledout/fpga_manage.h"
#include "support/lock_wait.h"
#include "support/sim_fixture.h"
#include "video/c331_manage.h"

using Bytes = std::vector<u8>;
using board::sim::SimC331;

namespace
{
struct Child {
    u8 type;
    Bytes data;
    Bytes version = {1, 1, 1, 1, 1, 1};
    u32 declaredLen = 0; // 0: the data's length
};

void le32(Bytes& b, size_t at, u32 v)
{
    for (int i = 0; i < 4; ++i)
        b[at + size_t(i)] = u8(v >> (8 * i));
}

Bytes package(const std::vector<Child>& children, u8 publish = 0x80)
{
    Bytes b(49 + 21 * children.size(), 0);
    b[2] = publish;
    b[18] = 0x52;
    b[19] = 0x8B;
    b[47] = u8(children.size());
    b[48] = u8(children.size() >> 8);
    for (size_t i = 0; i < children.size(); ++i) {
        const size_t e = 49 + 21 * i;
        b[e] = children[i].type;
        le32(b, e + 1, children[i].declaredLen ? children[i].declaredLen : u32(children[i].data.size()));
        le32(b, e + 5, u32(b.size()));
        std::copy(children[i].version.begin(), children[i].version.end(), b.begin() + long(e + 9));
        b.insert(b.end(), children[i].data.begin(), children[i].data.end());
    }
    return b;
}

Bytes fill(size_t n, u8 seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = u8(seed + i * 13 + (i >> 8));
    return b;
}

Bytes fpgaImage(const Bytes& image, u32 declared = 0)
{
    Bytes b(64 + image.size(), 0);
    b[16] = 1;
    le32(b, 31, declared ? declared : u32(image.size()));
    std::copy(image.begin(), image.end(), b.begin() + 64);
    return b;
}

Bytes font(u8 coding, u8 width, size_t body)
{
    Bytes b(35, 0);
    b[0] = 'P';
    b[5] = coding;
    b[18] = width;
    Bytes rest = fill(body, 5);
    b.insert(b.end(), rest.begin(), rest.end());
    return b;
}
} // namespace

class TestUsbUpgrade : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimFixture> fx_;
    fpga_manage* m_ = nullptr;
    c331_manage* c331_ = nullptr;
    int starts_ = 0, overs_ = 0;

    void put(const QString& name, const Bytes& b)
    {
        QVERIFY(writeHostFile(fx_->hostQ("/mnt/usb1/" + name.toStdString()),
                              QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size()))));
    }
    void run()
    {
        g_send_para.set_step(0);
        g_usb_grade = 1;
        for (int i = 0; i < 10 && g_usb_grade.load(); ++i)
            m_->usb_upgrade_manage_deal();
        QCOMPARE(int(g_usb_grade.load()), 0);
    }
    bool shellRan(const std::string& command)
    {
        const auto r = fx_->board().simShell().recorded();
        return std::find(r.begin(), r.end(), command) != r.end();
    }
    unsigned fpgaErases()
    {
        unsigned n = 0;
        for (const auto& op : board::sim::simFpgaFlash()->ops())
            n += op.cmd == 0x20 || op.cmd == 0x52 || op.cmd == 0xD8;
        return n;
    }
    Bytes app()
    {
        const QByteArray b = readHostFile(fx_->hostQ("/data/app/zevQ64N"));
        return Bytes(b.begin(), b.end());
    }

  private slots:
    void initTestCase()
    {
        fx_.reset(new SimFixture(true));
        ZevRamPara::pInstance();
        m_ = fpga_manage::pInstance();
        c331_ = new c331_manage();
        c331_manage::p_c331_manage = c331_;
        QVERIFY(c331_->bring_up());
        g_debugSwitch = 0;
        fpga_jobs::Hooks h;
        h.update_start = [this] { ++starts_; };
        h.update_over = [this] { ++overs_; };
        fpga_jobs::install(h);
    }
    void init()
    {
        QDir(fx_->hostQ("/mnt/usb1")).removeRecursively();
        QDir().mkpath(fx_->hostQ("/mnt/usb1"));
        QDir(fx_->hostQ("/data/app")).removeRecursively();
        QVERIFY(writeHostFile(fx_->hostQ("/data/app/zevQ64N"), "old"));
        Utils::set_usb_grade_path(" ");
        g_app_reset_flag = 0;
        g_update_flag = 0;
        g_update_status = 0;
        fx_->board().simShell().clearRecorded();
        board::sim::simFpga()->powerOn();
        fpga_manage::MCU_REG_func[0][FpgaReg::kState] = 3;
        m_->start[0].reset_req = 0;
        fx_->board().pads().write16(FpgaPad::RST_FPGA0, FpgaPad::kHigh);
        board::sim::simFpgaFlash()->clearOps();
        starts_ = overs_ = 0;
    }

    void applicationAndFpgaImage()
    {
        const Bytes program = fill(3000, 1);
        const Bytes image = fill(40000, 2);
        put("box.ZEV", package({{10, program}, {7, fpgaImage(image)}}));
        QSignalSpy spy(ZevRamPara::p_zevrampara, &ZevRamPara::sig_update_para);
        G_timeTicks = 777;
        run();
        QCOMPARE(app(), program);
        QVERIFY(shellRan("mv /data/app/zevQ64N2  /data/app/zevQ64N"));
        QCOMPARE(int(g_app_reset_flag.load()), 1);
        QCOMPARE(G_reboot_tickTicks.load(), 777u);
        QSettings ini(fx_->hostQ("/data/configs/led_load_config.ini"), QSettings::IniFormat);
        QCOMPARE(ini.value("app-1/app_path").toString(), QString("/data/app/zevQ64N -platform linuxfb"));
        // The image went to the flash from 0: one block and two sectors.
        QCOMPARE(board::sim::simFpgaFlash()->peek(0, 40000), image);
        std::vector<std::pair<int, u32>> erases;
        for (const auto& op : board::sim::simFpgaFlash()->ops())
            if (op.cmd == 0x20 || op.cmd == 0x52)
                erases.push_back({op.cmd, op.address});
        QCOMPARE(erases, (std::vector<std::pair<int, u32>>{{0x52, 0}, {0x20, 32768}, {0x20, 36864}}));
        QCOMPARE(int(m_->start[0].reset_req.load()), 0); // the restart brings it up
        QCOMPARE(starts_, 1);
        QCOMPARE(overs_, 1);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 104);
        QCOMPARE(int(g_update_flag.load()), 0);
    }

    // A start-up file grown past what the box reads back is written again
    // with the start-up line alone, and the install goes through.
    void startFileOverItsSizeIsWrittenAgain()
    {
        const QString ini = fx_->hostQ("/data/configs/led_load_config.ini");
        QVERIFY(writeHostFile(ini,
                              "[app-1]\napp_path=old\n" + QByteArray(ini_file::kMaxBytes, ';') + "\n[extra]\nkey=1\n"));
        put("box.ZEV", package({{10, fill(3000, 1)}, {7, fpgaImage(fill(100, 2))}}));
        run();
        QCOMPARE(app(), fill(3000, 1));
        const QByteArray after = readHostFile(ini);
        QVERIFY(after.size() < 65536);
        QVERIFY(after.contains("app_path=/data/app/zevQ64N -platform linuxfb"));
        QVERIFY(!after.contains("extra"));
    }

    // A start-up file that cannot be read fails the install before the
    // application is replaced.
    void unreadableStartFileKeepsTheOldApplication()
    {
        const QString ini = fx_->hostQ("/data/configs/led_load_config.ini");
        QVERIFY(QFile::remove(ini) && QDir().mkpath(ini + "/in-the-way"));
        put("box.ZEV", package({{10, fill(3000, 1)}}));
        run();
        QCOMPARE(int(g_usb_grade_outcome.load()), int(USB_CHECK_FAILED));
        QCOMPARE(app(), Bytes({'o', 'l', 'd'}));
        QCOMPARE(int(g_app_reset_flag.load()), 0);
        QVERIFY(QDir(ini).removeRecursively());
    }

    void fpgaImageAloneRestartsTheFpga()
    {
        put("fpga.ZEVZK", package({{7, fpgaImage(fill(5000, 3))}, {8, fpgaImage(fill(5000, 4))}}));
        run();
        QCOMPARE(board::sim::simFpgaFlash()->peek(0, 5000), fill(5000, 3));
        QCOMPARE(int(m_->start[0].reset_req.load()), 1);
        QCOMPARE(int(g_app_reset_flag.load()), 0);
    }

    void refusedPackages_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("outcome");
        QTest::newRow("running versions") << 0 << int(USB_FINISHED);
        QTest::newRow("truncated application") << 1 << int(USB_CHECK_FAILED);
        QTest::newRow("truncated image") << 2 << int(USB_CHECK_FAILED);
        QTest::newRow("image into the records") << 3 << int(USB_CHECK_FAILED);
        QTest::newRow("lower-case suffix") << 4 << int(USB_NO_PACKAGE);
        QTest::newRow("folder outside the stick") << 5 << int(USB_NO_PACKAGE);
        QTest::newRow("image longer than its child") << 6 << int(USB_CHECK_FAILED);
        // An entry table outside the package fails the check at once.
        QTest::newRow("65,535 entries in 49 bytes, ZEVZK") << 7 << int(USB_CHECK_FAILED);
        QTest::newRow("entry table one past the end") << 8 << int(USB_CHECK_FAILED);
    }
    void refusedPackages()
    {
        QFETCH(int, kind);
        QFETCH(int, outcome);
        const Bytes running = {26, 3, 30, 11, 2, 1};
        const Bytes fpgaRunning = {24, 11, 20, 0, 0, 1};
        Bytes p;
        if (kind == 0)
            p = package({{10, fill(100, 1), running}, {7, fpgaImage(fill(100, 2)), fpgaRunning}});
        if (kind == 1)
            p = package({{10, fill(100, 1), {1, 1, 1, 1, 1, 1}, 5000}});
        if (kind == 2)
            p = package({{7, fpgaImage(fill(100, 2), 9000)}});
        if (kind == 6)
            p = package({{7, fpgaImage(fill(300, 2), 200), {1, 1, 1, 1, 1, 1}, 64 + 100}});
        if (kind == 4 || kind == 5)
            p = package({{10, fill(100, 1)}});
        if (kind == 3) {
            // A package as long as the image claims: sparse on the disk.
            const u32 imageLen = 0x6C0000 + 4096;
            p = package({{7, fpgaImage({}, imageLen), {1, 1, 1, 1, 1, 1}, 64 + imageLen}});
        }
        if (kind >= 7) {
            p = package({{10, fill(100, 1)}});
            p.resize(kind == 7 ? 49 : p.size());
            const size_t entries = kind == 7 ? 65535 : (p.size() - 49) / 21 + 1;
            p[47] = u8(entries);
            p[48] = u8(entries >> 8);
        }
        put(kind == 4 ? "box.zev" : kind == 7 ? "box.ZEVZK" : "box.ZEV", p);
        if (kind == 3)
            QCOMPARE(truncate(fx_->host("/mnt/usb1/box.ZEV").c_str(), off_t(p.size()) + 0x6C0000 + 4096), 0);
        if (kind == 5)
            Utils::set_usb_grade_path("../data/app");
        run();
        QCOMPARE(int(g_app_reset_flag.load()), 0);
        QCOMPARE(app(), Bytes({'o', 'l', 'd'}));
        QVERIFY(!QFile::exists(fx_->hostQ("/data/app/zevQ64N2")));
        QCOMPARE(fpgaErases(), 0u);
        QCOMPARE(int(m_->start[0].reset_req.load()), 0);
        QCOMPARE(starts_, 1);
        QCOMPARE(overs_, 1);
        QCOMPARE(int(g_usb_grade_outcome.load()), outcome);
        const auto r = fx_->board().simShell().recorded();
        QVERIFY(kind < 7 || std::count(r.begin(), r.end(), std::string("sync")) <= 2);
    }

    // A settings reload replaces the folder on a PC link or the GUI thread:
    // the upgrade copies it under the identity's mutex.
    void folderReadUnderItsMutex()
    {
        Utils::set_usb_grade_path("pkg");
        QVERIFY(waits_for(held(Utils::_net_identity_mutex), [this] { m_->get_usb_file_list_path(); }));
    }

    // A package naming the application 1,000 times writes it once, with the
    // last child's bytes.

    void oneWritePerTarget()
    {
        std::vector<Child> children(999, {10, fill(100, 1)});
        const Bytes program = fill(200, 7);
        children.push_back({10, program});
        put("many.ZEV", package(children));
        run();
        const auto r = fx_->board().simShell().recorded();
        QVERIFY(std::count(r.begin(), r.end(), std::string("sync")) <= 6);
        QCOMPARE(app(), program);
        QCOMPARE(int(g_usb_grade_outcome.load()), int(USB_FINISHED));
    }

    void fonts_data()
    {
        QTest::addColumn<int>("coding");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("body");
        QTest::addColumn<int>("address"); // -1: refused
        QTest::newRow("64 px English") << 1 << 0x40 << 40000 << 0x410000;
        QTest::newRow("32 px Chinese") << 0 << 0x20 << 20000 << 0x10000;
        QTest::newRow("wrong width") << 1 << 0x30 << 1000 << -1;
        QTest::newRow("unknown coding") << 2 << 0x20 << 1000 << -1;
        QTest::newRow("over the next font") << 1 << 0x20 << 0x10000 << -1;
    }
    void fonts()
    {
        QFETCH(int, coding);
        QFETCH(int, width);
        QFETCH(int, body);
        QFETCH(int, address);
        SimC331* chip = SimC331::current();
        chip->setFonts(0x0F & ~0x04);
        c331_->read_c331_font(c331_->spi_fd);
        const Bytes f = font(u8(coding), u8(width), size_t(body));
        const Bytes before0 = chip->flashRead(0, 64);
        const Bytes before = chip->flashRead(0x410000, 64);
        put("font.ZEV", package({{13, f}}));
        run();
        if (address < 0) {
            QCOMPARE(chip->flashRead(0, 64), before0);
            QCOMPARE(chip->flashRead(0x410000, 64), before);
        } else {
            QCOMPARE(chip->flashRead(u32(address), u32(f.size())), f);
        }
        QCOMPARE(int(g_app_reset_flag.load()), 0);
    }

    void noFontWhenAllArePresent()
    {
        SimC331* chip = SimC331::current();
        chip->setFonts(0x0F);
        c331_->read_c331_font(c331_->spi_fd);
        const Bytes before = chip->flashRead(0x410000, 64);
        put("font.ZEV", package({{13, font(1, 0x40, 1000)}}));
        run();
        QCOMPARE(chip->flashRead(0x410000, 64), before);
    }
};

QTEST_MAIN(TestUsbUpgrade)
#include "test_usb_upgrade.moc"
