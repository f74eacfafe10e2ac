#include "ui/picture/inputchoose.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QPixmap>

#include "core/alias.h"
#include "core/logging.h"
#include "core/zevrampara.h"
#include "ui/picture/imagelayout.h"
#include "ui/picture/inputcut.h"
#include "ui/shell/textfit.h"
#include "ui/shell/pages.h"
#include "ui/shell/panellook.h"
#include "ui/picture/source_tabs.h"
#include "ui/shell/sourceinfo.h"
#include "ui/shell/syncupdate.h"
#include "ui_inputchoose.h"

namespace
{
enum Text { Title, InputCutButton, EdidButton, NoSignal, Using };

// zh, en, ru, vn, tw.
const PageText kTexts[] = {
    {{"信源切换", "Source switch", "Переключение источника", "Chuyển đổi nguồn", "信源切換"}},
    {{"输入截取", "Input intercept", "Источник", "Chặn nguồn vào", "輸入截取"}},
    {{"设置EDID", "EDID Settings", "Настройка EDID", "Cài đặt EDID", "設置EDID"}},
    {{"无信号", "No signal", "Нет сигнала", "Không có tín hiệu", "無信號"}},
    {{"使用中\u00AD", "Using", "Использовать", "sử dụng", "使用中\u00AD"}},
};

QString text(Text t)
{
    return page_text(kTexts[t]);
}

const char* const kTileStyle[6] = {
    "background-color: #867AE9;font: 9px", "background-color: #005A8D;font: 9px", "background-color: #39A9CB;font: 9px",
    "background-color: #EBA83A;font: 9px", "background-color: #FF96AD;font: 9px", "background-color: #D5E5FF;font: 9px",
};
const char* const kEntryCursor = "#source_frame{border:1px solid #FFAB54;border-radius:5px;}";
const char* const kEntryUsing = "#source_frame{border:1px solid #00D65B;border-radius:5px;}";
const char* const kEntryOther = "#source_frame{border:1px solid #CCCCCC;border-radius:5px;}";

ZevPage* (*g_edid_factory)() = nullptr;

u8* img()
{
    return ZevRamPara::p_zevrampara_config;
}

bool has_signal(int source)
{
    return source_timing(source).signal();
}

// The page reads the image under its locks (see source_tabs.h).
bool timing_changed(int source)
{
    if (source < 0 || source >= kSourceCount)
        return false;
    int o = Img::kSourceTiming + 6 * source;
    ImageReadLock lock;
    for (int k = 0; k < 6; k += 2)
        if (ZevRamPara::img16(o + k) != ZevRamPara::shadow16(o + k))
            return true;
    return false;
}

// The source an image shows, its kind and crop index, from the live image.
// A word naming no valid source reads as source 0.
u8 image_source(int image, short* isCrop, char* cropIndex)
{
    ImageReadLock lock;
    u8 s = ZevRamPara::ZevGetImageSource(img(), u8(image), isCrop, cropIndex, 0);
    return s < kSourceCount ? s : 0;
}

QLabel* child_label(QWidget* parent, int x, int y, int w, int h)
{
    QLabel* label = new QLabel(parent);
    label->setGeometry(x, y, w, h);
    return label;
}
} // namespace

void InputChoose::set_edid_page_factory(PageFactory factory)
{
    g_edid_factory = factory;
}

InputChoose::InputChoose(QWidget* parent)
    : ZevPage(parent, PageId::InputChoose, PageId::MainWindow), ui(new Ui_InputChoose),
      style_focus_top("border:2px solid rgb(255,171,84);"), style_focus_lower("border:2px solid rgb(71, 119, 255);"),
      style_focus_hidden("border:0px solid rgb(255,171,84);"),
      style_button("color:rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);"),
      style_button_focused("color:rgb(255, 255, 255);border:1px solid rgb(255,171,84);"),
      style_tab_blue("border:1px solid;border-left-color:rgb(71, 119, 255);border-right-color:rgb(71, 119, "
                     "255);border-top-color:rgb(71, 119, 255);"),
      style_tab_orange("border:1px solid;border-left-color:rgb(255,171,84);border-right-color:rgb(255,171,84);"
                       "border-top-color:rgb(255,171,84);"),
      style_entries_blue("#frame{border:1px solid rgb(71, 119, 255);}"),
      style_entries_orange("#frame{border:1px solid rgb(255,171,84);}")
{
    ui->setupUi(this);
    take_source_tabs(ui, tab_name, tab_icon);
    menulist_init();
    crop_source_init();
    crop_source_num_update();
    initMenu();
    image_select();
    language_changed();
}

InputChoose::~InputChoose()
{
    delete ui;
}

bool InputChoose::offered(int image) const
{
    if (image == 0)
        return true;
    if (image < 0 || image >= kSourceCount)
        return false;
    ImageReadLock lock;
    return img()[ZevRamPara::layerOffset(image)] == 1;
}

int InputChoose::tile_of(int image) const
{
    int p = 0;
    for (int i = 0; i < image; ++i)
        if (offered(i))
            ++p;
    return p;
}

int InputChoose::entry_of_crop(int source, int index)
{
    ImageReadLock lock;
    int n = ZevRamPara::ZevGetSourceNum(source, Img::kCropCount);
    for (int k = 1; k <= n; ++k) {
        CROP_PARA crop;
        int found = Img::kCropCount;
        ZevRamPara::ZevGetCropPara(source, k, &crop, &found);
        if (found == index)
            return k;
    }
    return 0;
}

void InputChoose::menulist_init()
{
    ui_seltype = 0;
    current_page = 0;
    source_id = 0;
    u8 current = g_image_current;
    image_index = current < kSourceCount && offered(current) ? current : 0;
    ui_select = top_select = u8(tile_of(image_index));
}

void InputChoose::language_changed()
{
    set_fitted(ui->label_title, text(Title));
    set_fitted({{ui->button_inputcut, text(InputCutButton)}, {ui->button_EDID, text(EdidButton)}});
}

u8 InputChoose::get_source_num(unsigned char id)
{
    return id < kSourceCount ? source_entry_num[sourceinfo::get_listseq_by_source_id(id)] : 0;
}

void InputChoose::crop_source_num_update()
{
    count_source_entries(source_entry_num);
    source_name_update();
    source_check_update();
}

void InputChoose::source_name_update()
{
    set_source_tab_names(tab_name, source_entry_num);
}

void InputChoose::source_check_update()
{
    for (int t = 0; t < 6; ++t) {
        u8 s = sourceinfo::get_source_id_by_listseq(u8(t));
        sourceinfo::set_sourceonline_pixmap(tab_icon[t], s, has_signal(s) ? 1 : 0);
        tab_icon[t]->setScaledContents(true);
    }
}

int InputChoose::source_current_check()
{
    int n = 1 + crop_count(source_number);
    last_page = u8((n + 2) / 3 - 1);
    return n;
}

void InputChoose::initMenu()
{
    delete top_frame;
    top_frame = nullptr;
    // The labels went with the old frame.
    std::fill(std::begin(tile_source), std::end(tile_source), nullptr);
    image_count = 0;
    top_frame = new QFrame(this);
    top_frame->setGeometry(0, 42, 320, 47);
    focus_frame = new QFrame(top_frame);
    focus_frame->setStyleSheet(style_focus_top);
    for (int i = 0; i < kSourceCount; ++i) {
        if (!offered(i))
            continue;
        int p = image_count;
        QLabel* tile = child_label(top_frame, 10 + 50 * p, 3, 45, 40);
        tile->setStyleSheet(kTileStyle[i]);
        tile->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
        set_fitted(tile, QString::asprintf("%d", i + 1));
        tile_source[i] = child_label(tile, 0, 1, 30, 12);
        QLabel* state = child_label(tile, 33, 1, 7, 7);
        state->setPixmap(QPixmap(":/png/state_on.png"));
        state->setScaledContents(true);
        image_list[p] = u8(i);
        if (i == image_index)
            focus_frame->setGeometry(7 + 50 * p, 0, 51, 46);
        ++image_count;
        TextCreate(char(i), 0);
    }
    top_frame->show();
}

void InputChoose::TextCreate(char image, char)
{
    u8 i = u8(image);
    if (i >= kSourceCount || !tile_source[i])
        return;
    short isCrop = 0;
    char cropIndex = 0;
    u8 s = image_source(i, &isCrop, &cropIndex);
    QString name = sourceinfo::get_source_name_by_sourceid(s);
    u8 k = u8(cropIndex);
    if (isCrop && k < Img::kCropCount) {
        u16 id = crop_word(k);
        if (id & 0x8000)
            name += QString::asprintf("_Crop%d", ((id >> 8) & 0x7F) + 1);
    }
    // Beside the state icon; a crop's name takes a second line, and the
    // image's number stands below it.
    QLabel* label = tile_source[i];
    label->setGeometry(1, 1, 32, 24);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    set_fitted(label, name);
}

void InputChoose::input_source_changed(char image)
{
    TextCreate(image, 0);
}

void InputChoose::place_focus(const QString& style)
{
    if (ui_select < image_count)
        focus_frame->setGeometry(7 + 50 * ui_select, 0, 51, 46);
    focus_frame->setStyleSheet(style);
}

void InputChoose::imagemenu()
{
    if (ui_seltype != 0) {
        focus_frame->setGeometry(7 + 50 * top_select, 0, 51, 46);
        focus_frame->setStyleSheet(style_focus_lower);
        return;
    }
    if (ui_select < 6) {
        image_index = image_list[ui_select < image_count ? ui_select : 0];
        if (g_image_current != image_index) {
            g_image_current = image_index;
            ZevRamPara::test_signal(1);
        }
        top_select = ui_select;
        place_focus(style_focus_top);
        ui->button_inputcut->setStyleSheet(style_button);
        ui->button_EDID->setStyleSheet(style_button);
    } else {
        focus_frame->setStyleSheet(style_focus_hidden);
        ui->button_inputcut->setStyleSheet(ui_select == 6 ? style_button_focused : style_button);
        ui->button_EDID->setStyleSheet(ui_select == 7 ? style_button_focused : style_button);
    }
}

void InputChoose::image_select()
{
    current_page = 0;
    if (ui_seltype == 1) {
        source_listseq = ui_select < 6 ? ui_select : 0;
    } else {
        short isCrop = 0;
        char cropIndex = 0;
        u8 s = image_source(image_index, &isCrop, &cropIndex);
        source_listseq = sourceinfo::get_listseq_by_source_id(s);
        source_name = sourceinfo::get_source_name_by_sourceid(s);
        source_id = s;
    }
    on_Button_source_clicked();
}

void InputChoose::on_Button_source_clicked()
{
    initSource();
    ui->frame1->setGeometry(1 + 53 * source_listseq, 95, 53, 33);
    ui->frame1->setStyleSheet(ui_seltype == 1 ? style_tab_orange : style_tab_blue);
}

void InputChoose::para_source_index_init()
{
    current_page = 0;
    ui_select = source_listseq;
}

void InputChoose::para_uiselect_init()
{
    short isCrop = 0;
    char cropIndex = 0;
    u8 s = image_source(image_index, &isCrop, &cropIndex);
    int entry = isCrop ? entry_of_crop(s, u8(cropIndex)) : 0;
    ui_select = s == sourceinfo::get_source_id_by_listseq(source_listseq) && (entry == 1 || entry == 2) ? u8(entry) : 0;
    on_Button_source_clicked();
}

void InputChoose::initSource()
{
    u8 in_use;
    if (ui_seltype == 0) {
        short isCrop = 0;
        char cropIndex = 0;
        source_number = image_source(image_index, &isCrop, &cropIndex);
        source_type = isCrop;
        if (isCrop)
            crop_id = u8(cropIndex);
        in_use = source_number;
    } else {
        source_number = sourceinfo::get_source_id_by_listseq(source_listseq);
        source_name = sourceinfo::get_source_name_by_sourceid(source_number);
        in_use = source_id;
    }
    int n = source_current_check();
    int shown = qBound(0, n - 3 * current_page, 3);
    int using_entry = source_type == 0 ? 0 : entry_of_crop(source_number, crop_id);
    bool marked = source_number == in_use && (source_type == 0 || using_entry > 0);
    if (debugOn())
        zevlog::debug(lcUi(),
                      "initSource [source_type = %d] , [crop_id = %d] [select_sorce = %d],[current_page=%d],"
                      "[source_id=%d],[source_number=%d],[ui_select=%d]\n",
                      source_type, crop_id, using_entry + 1, current_page, source_id, source_number, ui_select);

    delete entries_frame;
    entries_frame = new QFrame(this);
    entries_frame->setGeometry(1, 127, 318, 70);
    entries_frame->setObjectName("frame");
    entries_frame->setStyleSheet(ui_seltype == 1 ? style_entries_orange : style_entries_blue);
    entries_frame->lower();
    QFont font;
    font.setPixelSize(10);
    std::vector<FitItem> names, sizes;
    for (int j = 0; j < shown; ++j) {
        int e = 3 * current_page + j;
        QFrame* entry = new QFrame(entries_frame);
        entry->setObjectName("source_frame");
        entry->setGeometry(14 + 95 * j, 10, 92, 50);
        QLabel* state = child_label(entry, 3, 5, 7, 7);
        state->setScaledContents(true);
        QLabel* icon = child_label(entry, 12, 5, 25, 8);
        sourceinfo::set_source_pixmap(icon, source_number);
        icon->setScaledContents(true);
        // Two pixels taller than the 12 of the line, so an underscore is not cut.
        QLabel* name = child_label(entry, 3, 14, 80, 14);
        QLabel* res = child_label(entry, 3, 30, 88, 12);
        for (QLabel* l : {name, res}) {
            l->setStyleSheet("color: rgb(255, 255, 255)");
            l->setFont(font);
        }
        if (e == 0) {
            names.push_back({name, source_name});
            const SourceTiming t = source_timing(source_number);
            sizes.push_back({res, t.signal() ? QString::asprintf("%dx%d@%dHz", t.w, t.h, t.rate) : text(NoSignal)});
        } else {
            CROP_PARA crop;
            int index = crop_entry(source_number, e, &crop);
            ALIAS_PARA alias;
            if (index < Img::kCropCount && get_json_alias_para(&alias, "crop", index))
                names.push_back({name, QString::fromStdString(alias.name)});
            else
                names.push_back({name, source_name + QString::asprintf("_crop%d", ((crop.id >> 8) & 0x7F) + 1)});
            sizes.push_back({res, QString::asprintf("%dx%d", crop.width, crop.height)});
        }
        bool cursor = ui_seltype == 2 && j == ui_select;
        if (marked && e == using_entry) {
            entry->setStyleSheet(cursor ? kEntryCursor : kEntryUsing);
            state->setPixmap(QPixmap(":/png/state_on.png"));
            // The tag grows to the left for the longer translations, over
            // the source icon when it must.
            QLabel* tag = new QLabel(entry);
            tag->setStyleSheet("background-color: #00D65B;color: rgb(255, 255, 255);font: 9px;border-radius:5px;");
            int w = qMax(30, QFontMetrics(panel_font(kMinTextPixels)).horizontalAdvance(text(Using)) + 6);
            tag->setGeometry(qMin(60, 91 - w), 0, w, 12);
            tag->setAlignment(Qt::AlignCenter);
            set_fitted(tag, text(Using));
            icon->setVisible(tag->x() >= icon->x() + icon->width());
        } else {
            entry->setStyleSheet(cursor ? kEntryCursor : kEntryOther);
            state->setPixmap(QPixmap(":/png/state_off.png"));
        }
    }
    set_fitted(names);
    set_fitted(sizes);
    entries_frame->show();
}

void InputChoose::zev_source_button_clicked()
{
    int k = ui_select + 3 * current_page;
    // An entry that is no longer there (the crops changed) writes nothing.
    if (k >= source_current_check())
        return;
    if (k == 0) {
        source_type = 0;
        crop_id = 0;
    } else {
        CROP_PARA crop;
        int index = crop_entry(source_number, k, &crop);
        if (index >= Img::kCropCount)
            return;
        source_type = 1;
        crop_id = u8(index);
    }
    ZevRamPara::ZevSetImageSource(k, char(source_number), char(image_index));
    source_id = source_number;
    initSource();
    // Confirmed once the image holding the choice is on disk.
    SyncUpdate::pInstance()->ask_done_tip();
}

void InputChoose::zev_button_inputcut_clicked()
{
    open_page(g_inputcut);
}

void InputChoose::zev_button_EDID_clicked()
{
    if (!g_edid_factory)
        return;
    ZevPage* page = g_edid_factory();
    if (!page)
        return;
    PageRegistry::set(PageId::EDIDset, page);
    g_page_focus = PageId::EDIDset;
    page->exec();
}

void InputChoose::slot_Button_back_clicked()
{
    close_page();
    if (ImageLayout* layout = g_imagelayout) {
        layout->language_changed();
        layout->image_para_update();
        layout->image_init();
        g_page_focus = PageId::ImageLayout;
    } else {
        if (PageView* main = PageRegistry::at(PageId::MainWindow))
            main->language_changed();
        g_page_focus = PageId::MainWindow;
    }
}

void InputChoose::key_left()
{
    qCDebug(lcUi, "this is left-code [InputChoose][Release] ui_select=%#x ,ui_seltype=%#x ,current_page=%#x", ui_select,
            ui_seltype, current_page);
    if (ui_seltype == 0) {
        if (ui_select == 0)
            ui_select = 7;
        else if (ui_select == 7)
            ui_select = 6;
        else if (ui_select == 6)
            ui_select = u8(image_count - 1);
        else
            --ui_select;
        imagemenu();
        image_select();
    } else if (ui_seltype == 1) {
        ui_select = ui_select == 0 || ui_select > 5 ? 5 : ui_select - 1;
        image_select();
    } else {
        int max = qMin(source_current_check(), 100);
        if (debugOn())
            zevlog::debug(lcUi(), "[max_source_info = %#x], [ui_select = %#x], [current_page=%#x]\n", unsigned(max),
                          ui_select, current_page);
        if (ui_select == 0) {
            if (current_page > 0) {
                --current_page;
                ui_select = 3;
            } else {
                current_page = last_page;
                ui_select = u8(max - 3 * last_page);
            }
        }
        --ui_select;
        initSource();
    }
}

void InputChoose::key_right()
{
    qCDebug(lcUi, "this is right-code [InputChoose][Release] ui_select=%#x ,ui_seltype=%#x ,current_page=%#x",
            ui_select, ui_seltype, current_page);
    if (ui_seltype == 0) {
        ++ui_select;
        if (ui_select == image_count)
            ui_select = 6;
        else if (ui_select > 7)
            ui_select = 0;
        imagemenu();
        image_select();
    } else if (ui_seltype == 1) {
        ui_select = ui_select >= 5 ? 0 : ui_select + 1;
        image_select();
    } else {
        int max = qMin(source_current_check(), 100);
        ++ui_select;
        if (ui_select + 3 * current_page >= max) {
            current_page = 0;
            ui_select = 0;
        } else if (ui_select > 2) {
            ui_select = 0;
            current_page = current_page < last_page ? current_page + 1 : last_page;
        }
        qCDebug(lcUi, "This is right-code [InputChoose][Release] ui_select=%#x ,current_page=%#x,max_source_info=%#x",
                ui_select, current_page, unsigned(max));
        initSource();
    }
}

void InputChoose::key_ok()
{
    qCDebug(lcUi, "this is OK button(InputChoose)[Release] ui_select=%#x ,ui_seltype=%#x", ui_select, ui_seltype);
    if (ui_seltype == 0) {
        if (ui_select < image_count) {
            ui_seltype = 1;
            imagemenu();
            para_source_index_init();
            on_Button_source_clicked();
        } else if (ui_select == 6) {
            zev_button_inputcut_clicked();
        } else if (ui_select == 7) {
            zev_button_EDID_clicked();
        }
    } else if (ui_seltype == 1) {
        ui_seltype = 2;
        para_uiselect_init();
    } else {
        zev_source_button_clicked();
        TextCreate(char(image_index), 0);
    }
}

void InputChoose::key_back()
{
    qCDebug(lcUi, "this is back button(InputChoose)[Release] ui_select=%#x ,ui_seltype=%#x", ui_select, ui_seltype);
    if (ui_seltype == 0) {
        slot_Button_back_clicked();
    } else if (ui_seltype == 1) {
        ui_seltype = 0;
        ui_select = top_select;
        imagemenu();
        image_select();
    } else {
        ui_seltype = 1;
        para_source_index_init();
        on_Button_source_clicked();
    }
}

void InputChoose::syncUpdate(int code)
{
    if (ZevRamPara::ZevLanguageChanged())
        language_changed();
    bool offered_changed = false;
    bool source_moved[kSourceCount];
    bool source_change;
    {
        ImageReadLock lock;
        for (int i = 0; i < kSourceCount; ++i) {
            int o = ZevRamPara::layerOffset(i);
            source_moved[i] = ZevRamPara::img16(o + Img::kLayerSource) != ZevRamPara::shadow16(o + Img::kLayerSource);
            if (ZevRamPara::img16(o + Img::kLayerEnable) != ZevRamPara::shadow16(o + Img::kLayerEnable))
                offered_changed = true;
        }
        int o = ZevRamPara::layerOffset(image_index) + Img::kLayerSource;
        source_change = ZevRamPara::img16(o) != ZevRamPara::shadow16(o);
    }
    for (int i = 0; i < kSourceCount; ++i)
        if (source_moved[i])
            input_source_changed(char(i));
    if (offered_changed) {
        // The rows below would name a tile that may be gone: the keys go
        // back to the top row, on image 0.
        ui_seltype = 0;
        image_index = 0;
        if (ui_select < 6)
            ui_select = 0;
        top_select = 0;
        image_select();
        initMenu();
        if (ui_select >= 6)
            focus_frame->setStyleSheet(style_focus_hidden);
    } else {
        bool timing_change = !source_change && timing_changed(source_number);
        if (ui_seltype == 0) {
            u8 current = g_image_current;
            if (current != image_index && current < kSourceCount && offered(current)) {
                image_index = current;
                ui_select = top_select = u8(tile_of(current));
                place_focus(style_focus_top);
                image_select();
            } else if (current == image_index) {
                if (source_change)
                    image_select();
                else if (timing_change)
                    initSource();
            }
        } else if (timing_change) {
            initSource();
        }
    }
    if (code == 103 || crop_table_changed()) {
        crop_source_init();
        initSource();
        crop_source_num_update();
    }
}
