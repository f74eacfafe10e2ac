// The other-settings page: the audio window, switch effect, Wi-Fi and
// point-to-point rows.
#include <QtTest>

#include <cstring>

#include <QComboBox>

#include "core/zevrampara.h"
#include "ui/settings/othersetup.h"
#include "page_harness.h"
#include "ui/shell/pages.h"
#include "video/c331_manage.h"

namespace
{
u8& window_byte(int window, int byte)
{
    return img()[Img::kLayer + Img::kLayerSize * window + byte];
}

void enable_windows(std::initializer_list<int> windows)
{
    for (int i = 0; i < Img::kLayerCount; ++i)
        ZevRamPara::put16(img(), Img::kLayer + Img::kLayerSize * i, 0);
    for (int i : windows)
        ZevRamPara::put16(img(), Img::kLayer + Img::kLayerSize * i, 1);
}
} // namespace

class TestOthersetup : public QObject
{
    Q_OBJECT
    PageHarness harness;

  private slots:
    void init()
    {
        PageHarness::reset();
        ZevRamPara::put16(img(), Img::kAudioLayer, 0);
        for (int i = 0; i < 6; ++i)
            window_byte(i, 21) = window_byte(i, 20) = 0;
    }

    void noWindowMeansNothingToChoose()
    {
        enable_windows({});
        othersetup p(nullptr);
        QCOMPARE(p.findChild<QComboBox*>("ImageVolume")->count(), 0);
        release_keys(&p, {kOk, kRight, kLeft, kOk}); // stepping an empty list is harmless
        release_keys(&p, {kRight, kOk, kRight, kOk});
        QCOMPARE(ZevRamPara::img16(Img::kAudioLayer), u16(0));
        QCOMPARE(window_byte(0, 21), u8(0));
    }

    void audioGoesToTheChosenWindow()
    {
        enable_windows({0, 2, 4});
        {
            othersetup p(nullptr);
            auto* images = p.findChild<QComboBox*>("ImageVolume");
            QCOMPARE(images->count(), 3);
            QCOMPARE(images->itemText(2), QString("image5"));
            release_keys(&p, {kOk, kRight, kOk, kRight, kOk, kRight, kOk});
            QCOMPARE(ZevRamPara::img16(Img::kAudioLayer), u16(2));
            QCOMPARE(window_byte(2, 20), u8(255));
            QCOMPARE(window_byte(2, 21), u8(0x80));
        }
        othersetup again(nullptr);
        QCOMPARE(again.findChild<QComboBox*>("ImageVolume")->currentText(), QString("image3"));
        QCOMPARE(again.findChild<QComboBox*>("volume_state")->currentIndex(), 1);
    }

    void fadeReachesTheApplyUnsaved()
    {
        enable_windows({0});
        std::memcpy(ZevRamPara::p_zevrampara_shadow, img(), Img::kSize);
        othersetup p(nullptr);
        release_keys(&p, {kRight, kRight, kOk, kRight, kOk});
        QCOMPARE(img()[2118], u8(1));
        for (int i = 0; i < 16; ++i) {
            QCOMPARE(img()[2816 + 4 * i], u8(60));
            QVERIFY(window_byte(i, Img::kLayerFlags) & 0x04);
        }
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));
        // The shadow still differs, so the video processor sees the change.
        QCOMPARE(ZevRamPara::p_zevrampara_shadow[2118], u8(0));
        // Back in an edit restores the list and writes nothing.
        c331_manage::para_update_flag = 0;
        release_keys(&p, {kOk, kRight, kBack});
        QCOMPARE(p.findChild<QComboBox*>("switch_state")->currentIndex(), 1);
        QCOMPARE(c331_manage::para_update_flag.load(), u8(0));
    }

    void wifiOffStopsTheDaemons()
    {
        img()[Img::kWifiOff] = 0;
        othersetup p(nullptr);
        release_keys(&p, {kLeft, kLeft, kOk, kRight, kOk});
        QCOMPARE(img()[Img::kWifiOff], u8(1));
        const auto run = harness.sim().board().simShell().recorded();
        QVERIFY(std::count(run.begin(), run.end(), "kill -9 `pidof /usr/sbin/udhcpd  /etc/udhcpd.conf`") >= 1);
    }
};

QTEST_MAIN(TestOthersetup)
#include "test_othersetup.moc"
