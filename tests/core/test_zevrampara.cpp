// The parameter store's operations and their bounds.
#include <QSignalSpy>
#include <QtTest>

#include <cstring>

#include "core/zevrampara.h"
#include "sim_fixture.h"
#include "video/c331_manage.h"

namespace
{
u8* img()
{
    return ZevRamPara::p_zevrampara_config;
}
u8* shadow()
{
    return ZevRamPara::p_zevrampara_shadow;
}

void setCrop(int k, int source, int number, u16 x = 0, u16 y = 0, u16 w = 0, u16 h = 0)
{
    int o = Img::kCropTable + Img::kCropSize * k;
    ZevRamPara::put16(img(), o, u16(0x8000 | (number << 8) | source));
    ZevRamPara::put16(img(), o + 2, x);
    ZevRamPara::put16(img(), o + 4, y);
    ZevRamPara::put16(img(), o + 6, w);
    ZevRamPara::put16(img(), o + 8, h);
}

u16 layerSource(int layer)
{
    return ZevRamPara::img16(ZevRamPara::layerOffset(layer) + Img::kLayerSource);
}
} // namespace

class TestZevRamPara : public QObject
{
    Q_OBJECT
    SimFixture sim_;

  private slots:
    void init()
    {
        std::memset(img(), 0, Img::kSize);
        std::memset(shadow(), 0, Img::kSize);
        std::memset(ZevRamPara::user_mode, 0xFF, sizeof ZevRamPara::user_mode);
        c331_manage::para_update_flag = 0;
        g_lcd_lang_valid = kDefaultLcdLangValid;
        g_image_current = 0;
        ZevRamPara::ZevCropSourceInit();
    }

    void recordsSitAtTheirImageOffsets()
    {
        LAYER_PARA layer = {};
        layer.enable = 1;
        layer.mirror = 3;
        layer.source = 0x8005;
        layer.x = 0x1234;
        layer.height = 1080;
        layer.flags = 0x02;
        layer.audio = 0x80;
        layer.p2p_mode = 9;
        ZevRamPara::set_layer_para(img(), 2, layer);
        int o = ZevRamPara::layerOffset(2);
        QCOMPARE(o, 2324);
        QCOMPARE(ZevRamPara::img16(o + 4), u16(3));
        QCOMPARE(layerSource(2), u16(0x8005));
        QCOMPARE(img()[o + 10], u8(0x34));
        QCOMPARE(ZevRamPara::img16(o + 16), u16(1080));
        QCOMPARE(img()[o + 18], u8(0x02));
        QCOMPARE(ZevRamPara::img16(o + 20) & 0x8000, 0x8000);
        QCOMPARE(ZevRamPara::img16(o + 22), u16(9));
        QCOMPARE(ZevRamPara::layer_para(img(), 2).x, u16(0x1234));

        ZevRamPara::ZevSetEDIDPara(5, 3840, 2160, 30);
        QCOMPARE(ZevRamPara::img16(926), u16(3840));
        EDID_PARA edid = ZevRamPara::edid_para(img(), 5);
        QCOMPARE(edid.height, u16(2160));
        QCOMPARE(edid.rate, u16(30));

        // Image offset N of a stored mode is slot byte 2 + N - 896.
        USER_MODE_SLOT& slot = ZevRamPara::user_mode[7];
        slot.image[2272 - Img::kModeStart] = 0x5A;
        QCOMPARE(ZevRamPara::user_mode[7][2 + 2272 - 896], u8(0x5A));
        QCOMPARE(int(&ZevRamPara::user_mode[8][0] - &ZevRamPara::user_mode[7][0]), kUserModeSlotSize);
    }

    void testSignalEmitsTheCode()
    {
        ZevRamPara* p = ZevRamPara::pInstance();
        QSignalSpy spy(p, &ZevRamPara::sig_update_para);
        QCOMPARE(ZevRamPara::test_signal(12), 1);
        QCOMPARE(ZevRamPara::ram_para_save(), 1);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).at(0).toInt(), 12);
        QCOMPARE(spy.at(1).at(0).toInt(), 1);
    }

    void ramParaDealBounds()
    {
        const u8 data[4] = {1, 2, 3, 4};
        QCOMPARE(ZevRamPara::ZevRamParaDeal(data, 4, 4092), 0);
        QCOMPARE(img()[4095], u8(4));
        QCOMPARE(ZevRamPara::ZevRamParaDeal(data, 4, 4093), 1);
        QCOMPARE(ZevRamPara::ZevRamParaDeal(data, 1, 0xFFFFFFFFu), 1); // no 32-bit wrap
        QCOMPARE(ZevRamPara::ZevRamParaDeal(data, -1, 0), 1);
        QCOMPARE(c331_manage::para_update_flag.load(), u8(0)); // memory only, no apply
    }

    void modeUserRamParaDealBounds()
    {
        const u8 data[3] = {7, 8, 9};
        QCOMPARE(ZevRamPara::ZevModeUserRamParaDeal(data, 3, 0x0000), 1);  // mode 0
        QCOMPARE(ZevRamPara::ZevModeUserRamParaDeal(data, 3, 0x11000), 1); // mode 17
        QCOMPARE(ZevRamPara::ZevModeUserRamParaDeal(data, 3, 0x10002), 0); // mode 16, offset 2
        QCOMPARE(ZevRamPara::user_mode[15][2], u8(7));
    }

    void modeSlotEndIsEnforced()
    {
        const u8 data[4] = {1, 2, 3, 4};
        // A slot is 4098 bytes; offsets only reach 4095 but a long write must stop at the end.
        QCOMPARE(ZevRamPara::ZevModeUserRamParaDeal(data, 4, 0x1FFF), 1);
        QCOMPARE(ZevRamPara::user_mode[0][4095], u8(0xFF));
        QCOMPARE(ZevRamPara::ZevModeUserRamParaDeal(data, 3, 0x1FFF), 0);
        QCOMPARE(ZevRamPara::user_mode[0][4097], u8(3));
        QCOMPARE(ZevRamPara::ZevModeUserRamParaDeal(data, 1, 0xFFFFFFFFu), 1);
    }

    void languageChangeFallsBackToLowestEnabled()
    {
        img()[Img::kLanguage] = 1;
        shadow()[Img::kLanguage] = 1;
        QCOMPARE(ZevRamPara::ZevLanguageChanged(), 0);

        img()[Img::kLanguage] = 2;
        QCOMPARE(ZevRamPara::ZevLanguageChanged(), 1);
        QCOMPARE(int(g_language), 2);

        g_lcd_lang_valid = 0x18; // Vietnamese and traditional Chinese only
        img()[Img::kLanguage] = 0;
        img()[Img::kLanguageFallback] = 5;
        QCOMPARE(ZevRamPara::ZevLanguageChanged(), 1);
        QCOMPARE(int(img()[Img::kLanguage]), 3);
        QCOMPARE(int(img()[Img::kLanguageFallback]), 0);
        QCOMPARE(int(g_language), 3);

        // An impossible language never shifts past the bit set.
        img()[Img::kLanguage] = 200;
        QCOMPARE(ZevRamPara::ZevLanguageChanged(), 1);
        QCOMPARE(int(img()[Img::kLanguage]), 3);
    }

    void cropNumbersAndEntries()
    {
        setCrop(0, 2, 5, 10, 20, 30, 40);
        setCrop(1, 2, 1, 1, 2, 3, 4);
        setCrop(2, 3, 0);
        setCrop(3, 9, 0); // a source that does not exist is ignored by the map
        ZevRamPara::ZevCropSourceInit();

        QCOMPARE(ZevRamPara::ZevGetSourceNum(2, 40), 2);
        QCOMPARE(ZevRamPara::ZevGetSourceNum(2, 1), 1);
        QCOMPARE(ZevRamPara::ZevGetSourceNum(2, 0), 0);
        QCOMPARE(ZevRamPara::ZevGetCropID(2, 1), 2); // ascending crop numbers: 1 then 5
        QCOMPARE(ZevRamPara::ZevGetCropID(2, 2), 6);
        QCOMPARE(ZevRamPara::ZevGetCropID(2, 3), 0);
        QCOMPARE(ZevRamPara::ZevGetCropID(6, 1), 0);
        QCOMPARE(ZevRamPara::ZevAddCropID(2), 1);

        CROP_PARA c;
        int index = -1;
        ZevRamPara::ZevGetCropPara(2, 2, &c, &index);
        QCOMPARE(index, 0);
        QCOMPARE(c.x, 10);
        QCOMPARE(c.height, 40);
        CROP_PARA untouched;
        untouched.x = 77;
        ZevRamPara::ZevGetCropPara(2, 3, &untouched, &index);
        QCOMPARE(index, 40);
        QCOMPARE(untouched.x, 77);
    }

    void addSetDeleteCropRaiseApply()
    {
        CROP_PARA c{0, 100, 200, 300, 400};
        ZevRamPara::ZevAddNewCrop(4, &c);
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));
        QCOMPARE(ZevRamPara::img16(Img::kCropTable), u16(0x8004));
        ZevRamPara::ZevCropSourceInit();
        QCOMPARE(ZevRamPara::ZevGetCropID(4, 1), 1);

        c331_manage::para_update_flag = 0;
        CROP_PARA moved{0, 1, 2, 3, 4};
        ZevRamPara::ZevSetCropPara(4, 1, &moved);
        QCOMPARE(ZevRamPara::img16(Img::kCropTable + 2), u16(1));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));

        c331_manage::para_update_flag = 0;
        ZevRamPara::ZevDeleteCrop(4, 1);
        QCOMPARE(ZevRamPara::img16(Img::kCropTable), u16(0));
        QCOMPARE(ZevRamPara::img16(Img::kCropTable + 2), u16(1)); // rectangle kept
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));

        // Missing crop: nothing written, no apply.
        c331_manage::para_update_flag = 0;
        ZevRamPara::ZevCropSourceInit();
        ZevRamPara::ZevDeleteCrop(4, 1);
        ZevRamPara::ZevSetCropPara(4, 1, &moved);
        QCOMPARE(c331_manage::para_update_flag.load(), u8(0));
    }

    void addCropWithFullTableWritesNothing()
    {
        for (int k = 0; k < 40; ++k)
            setCrop(k, 0, k);
        ZevRamPara::ZevCropSourceInit();
        QByteArray before(reinterpret_cast<char*>(img()), Img::kSize);
        CROP_PARA c{0, 1, 1, 1, 1};
        ZevRamPara::ZevAddNewCrop(1, &c); // source 1 has free numbers but no free record
        ZevRamPara::ZevAddNewCrop(0, &c); // source 0 has no free number
        QCOMPARE(QByteArray(reinterpret_cast<char*>(img()), Img::kSize), before);
        QCOMPARE(c331_manage::para_update_flag.load(), u8(0));
    }

    void imageSourcePlainAndCrop()
    {
        setCrop(7, 3, 2);
        ZevRamPara::ZevCropSourceInit();
        ZevRamPara::ZevSetImageSource(0, 5, 1);
        QCOMPARE(layerSource(1), u16(5));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));

        ZevRamPara::ZevSetImageSource(1, 3, 2);
        QCOMPARE(layerSource(2), u16(0x8007));
        short isCrop = -1;
        char cropIndex = 0;
        QCOMPARE(int(ZevRamPara::ZevGetImageSource(img(), 2, &isCrop, &cropIndex, 0)), 3);
        QCOMPARE(int(isCrop), 1);
        QCOMPARE(int(cropIndex), 7);
        QCOMPARE(int(ZevRamPara::ZevGetImageSource(img(), 1, &isCrop, &cropIndex, 0)), 5);
        QCOMPARE(int(isCrop), 0);

        ZevRamPara::ZevSetImageSource(2, 3, 3); // no second crop
        QCOMPARE(layerSource(3), u16(0));
    }

    void imageSourceBounds()
    {
        ZevRamPara::put16(img(), ZevRamPara::layerOffset(0) + Img::kLayerSource, 0x8000 | 45);
        short isCrop = 0;
        char cropIndex = 0;
        // A crop index past the table never reads outside it.
        QCOMPARE(int(ZevRamPara::ZevGetImageSource(img(), 0, &isCrop, &cropIndex, 0)), 0xFF);
        QCOMPARE(int(ZevRamPara::ZevGetImageSource(img(), 16, &isCrop, &cropIndex, 0)), 0xFF);
        ZevRamPara::ZevSetImageSource(0, 6, 0); // source 6 does not exist
        QCOMPARE(c331_manage::para_update_flag.load(), u8(0));
    }

    void imageSourceFromStoredMode()
    {
        u8* stored = ZevRamPara::user_mode[0] + 2;
        int layer = ZevRamPara::layerOffset(1) + Img::kLayerSource - Img::kModeStart;
        ZevRamPara::put16(stored, layer, 0x8003);
        ZevRamPara::put16(stored, Img::kCropTable + 30 - Img::kModeStart, 0x8104);
        short isCrop = 0;
        char cropIndex = 0;
        QCOMPARE(int(ZevRamPara::ZevGetImageSource(stored, 1, &isCrop, &cropIndex, 1)), 4);
        QCOMPARE(int(cropIndex), 3);
    }

    void settingSourceClearsUnchangedCurrentMode()
    {
        ZevRamPara::put16(img(), Img::kCurrentMode, 3);
        ZevRamPara::put16(shadow(), Img::kCurrentMode, 3);
        ZevRamPara::ZevSetImageSource(0, 1, 0);
        QCOMPARE(ZevRamPara::img16(Img::kCurrentMode), u16(0));
        // A mode recalled but not yet applied stays.
        ZevRamPara::put16(img(), Img::kCurrentMode, 4);
        ZevRamPara::ZevSetImageSource(0, 2, 0);
        QCOMPARE(ZevRamPara::img16(Img::kCurrentMode), u16(4));
    }

    void edidParaBounds()
    {
        ZevRamPara::ZevSetEDIDPara(5, 1280, 720, 50);
        QCOMPARE(ZevRamPara::img16(Img::kEdid + 30), u16(1280));
        QCOMPARE(ZevRamPara::img16(Img::kEdid + 34), u16(50));
        c331_manage::para_update_flag = 0;
        ZevRamPara::ZevSetEDIDPara(6, 1, 1, 1);
        ZevRamPara::ZevSetEDIDPara(-1, 1, 1, 1);
        QCOMPARE(c331_manage::para_update_flag.load(), u8(0));
        QCOMPARE(ZevRamPara::img16(Img::kEdid + 36), u16(0));
    }

    void userModeIndexWalks()
    {
        QCOMPARE(ZevRamPara::ZevUserModeIndex(0, 2), 256);
        ZevRamPara::user_mode[3][0] = ZevRamPara::user_mode[3][1] = 0xAA;
        ZevRamPara::user_mode[10][0] = ZevRamPara::user_mode[10][1] = 0xAA;
        QCOMPARE(ZevRamPara::ZevUserModeSaved(3), 1);
        QCOMPARE(ZevRamPara::ZevUserModeSaved(4), 0);
        QCOMPARE(ZevRamPara::ZevUserModeSaved(16), 0);
        QCOMPARE(ZevRamPara::ZevUserModeIndex(3, 2), 3);
        QCOMPARE(ZevRamPara::ZevUserModeIndex(3, 1), 10);
        QCOMPARE(ZevRamPara::ZevUserModeIndex(10, 1), 3); // wraps through 0
        QCOMPARE(ZevRamPara::ZevUserModeIndex(3, 0), 10); // wraps from 15 downward
        QCOMPARE(ZevRamPara::ZevUserModeIndex(11, 0), 10);
        QCOMPARE(ZevRamPara::ZevUserModeIndex(12, 2), 3);
        QCOMPARE(ZevRamPara::ZevUserModeIndex(16, 2), 256); // slot past the table
    }

    void currentModeIndex()
    {
        img()[Img::kCurrentMode] = 16;
        QCOMPARE(ZevRamPara::ZevGetCurrentModeIndex(), 16);
        img()[Img::kCurrentMode] = 17;
        QCOMPARE(ZevRamPara::ZevGetCurrentModeIndex(), 0);
    }

    void blackAndFreezeToggleTheCurrentImage()
    {
        g_image_current = 2;
        int flags = ZevRamPara::layerOffset(2) + Img::kLayerFlags;
        ZevRamPara::ZevSetImageBlack();
        QCOMPARE(int(img()[flags]), 1);
        ZevRamPara::ZevSetImageBlack();
        QCOMPARE(int(img()[flags]), 0);

        c331_manage::para_update_flag = 0;
        ZevRamPara::ZevSetImageFreeze(); // layer off: no freeze, but the apply is asked for
        QCOMPARE(int(img()[flags]), 0);
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));
        ZevRamPara::put16(img(), ZevRamPara::layerOffset(2), 1);
        ZevRamPara::ZevSetImageFreeze();
        QCOMPARE(int(img()[flags]), 2);

        // A current image past the windows changes nothing.
        g_image_current = 9;
        c331_manage::para_update_flag = 0;
        const QByteArray before(reinterpret_cast<char*>(img()), Img::kSize);
        ZevRamPara::ZevSetImageBlack();
        ZevRamPara::ZevSetImageFreeze();
        QCOMPARE(QByteArray(reinterpret_cast<char*>(img()), Img::kSize), before);
        QCOMPARE(c331_manage::para_update_flag.load(), u8(0));
    }
};

QTEST_GUILESS_MAIN(TestZevRamPara)
#include "test_zevrampara.moc"
