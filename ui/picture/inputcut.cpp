#include "ui/picture/inputcut.h"

#include <cstdio>
#include <cstring>

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "core/alias.h"
#include "core/logging.h"
#include "core/zevrampara.h"
#include "ui/picture/inputchoose.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/textfit.h"
#include "ui/shell/pages.h"
#include "ui/picture/source_tabs.h"
#include "ui/shell/sourceinfo.h"
#include "ui_inputcut.h"

namespace
{
enum Text { Title, Crop, Wd, Ht, Cancel, Ok, Delete, NameCaption, NoSignal, KeyW, KeyH };

// zh, en, ru, vn, tw.
const PageText kTexts[] = {
    {{"输入截取", "Input intercept", "Источник", "Chặn nguồn vào", "輸入截取"}},
    {{"截取:", "Crop:", "Обрезать:", "Cắt:", "截取:"}},
    {{"宽", "W", "Ширина", "Rộng", "寬"}},
    {{"高", "H", "Высота", "Cao", "高"}},
    {{"取消", "Cancle", "Отмена", "Hủy bỏ", "取消"}},
    {{"确定", "OK", "OK", "Đồng ý", "確定"}},
    {{"删除", "Delete", "Удалить", "Xoá bỏ", "删除"}},
    {{"名称:", "Name:", "Название:", "Tên:", "名稱:"}},
    {{"无信号", "No signal", "Нет сигнала", "Không có tín hiệu", "無信號"}},
    {{"宽", "W", "W", "W", "寬"}},
    {{"高", "H", "H", "H", "高"}},
};

QString text(Text t)
{
    return page_text(kTexts[t]);
}

// Edit rows after the list: X, Y, W, H, Delete, Cancel, OK.
constexpr int kRowDelete = 4;
constexpr int kRowCancel = 5;
constexpr int kRowOk = 6;
constexpr int kRows = 7;

QLabel* list_label(QWidget* parent, int x, int y, int w, int h)
{
    QLabel* label = new QLabel(parent);
    label->setGeometry(x, y, w, h);
    return label;
}

short to_short(const QString& s)
{
    bool ok = false;
    short v = s.toShort(&ok, 10);
    return ok ? v : 0;
}
} // namespace

InputCut::InputCut(QWidget* parent)
    : ZevPage(parent, PageId::InputCut, g_inputchoose ? PageId::InputChoose : PageId::Option), ui(new Ui_InputCut),
      style_tab_focused("border:1px solid;background-color: rgb(16,16, 28);border-left-color:rgb(255,171,84);"
                        "border-right-color:rgb(255,171,84);border-top-color:rgb(255,171,84);"),
      style_tab_normal("border:1px solid;background-color: rgb(16,16, 28);border-left-color:rgb(71, 119, 255);"
                       "border-right-color:rgb(71, 119, 255);border-top-color:rgb(71, 119, 255);"),
      style_list_focused("#frame_source{background-color: rgb(16,16, 28);border:1px solid rgb(255,171,84);}"),
      style_list_normal("#frame_source{background-color: rgb(16,16, 28);border:1px solid rgb(71, 119, 255);}"),
      style_card_focused("background-color: #212435;border:1px solid #FFA854;"),
      style_card_normal("background-color: #212435;border:1px solid #CCCCCC;"),
      style_add_focused("border:1px solid rgb(255,171,84);"), style_add_normal("border:0px solid rgb(0,0,0);"),
      style_row_normal("color:rgb(255, 255, 255);background-color: rgb(33, 36, 53);border:1px solid rgb(255, 255, "
                       "255);font:10px"),
      style_row_focused("color:rgb(255, 255, 255);background-color: rgb(33, 36, 53);border:1px solid "
                        "rgb(255,171,84);font:10px"),
      field_names{"lineEdit_X", "lineEdit_Y", "lineEdit_W", "lineEdit_H"}
{
    card_font.setPixelSize(10);
    ui->setupUi(this);
    take_source_tabs(ui, tab_name, tab_icon);
    for (int i = 0; i < 6; ++i) {
        sourceinfo::set_source_pixmap(tab_icon[i], sourceinfo::get_source_id_by_listseq(u8(i)));
        tab_icon[i]->setScaledContents(true);
    }
    tab_outline = new QFrame(this);
    tab_outline->setGeometry(1, 40, 53, 41);
    tab_outline->setStyleSheet(style_tab_focused);
    // The map of used crop numbers may be stale (the PC tool writes the
    // table directly): new crop numbers are taken from a fresh one.
    crop_source_init();
    crop_source_num_update();
    source_name = "HDMI1";
    tab_outline->lower();
    menulist_init();
    source_init();
    ui->frame_add->hide();

    button_cancel = new QPushButton("取消", this);
    button_ok = new QPushButton("确定", this);
    button_delete = new QPushButton("删除", this);
    for (QPushButton* b : {button_cancel, button_ok, button_delete}) {
        b->setStyleSheet(style_row_normal);
        b->setFocusPolicy(Qt::NoFocus);
        b->hide();
    }
    for (QLineEdit* f : {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W, ui->lineEdit_H})
        f->setStyleSheet(style_row_normal);
    for (My_lineEdit* f : {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W, ui->lineEdit_H})
        connect(f, &My_lineEdit::send_show, this, &InputCut::show_numberkeyboard_ui);
    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &InputCut::confirmString);
    language_changed();
}

InputCut::~InputCut()
{
    for (QLineEdit* f : {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W, ui->lineEdit_H})
        if (g_lineedit == f)
            g_lineedit = nullptr;
    delete ui;
}

void InputCut::menulist_init()
{
    ui_select = 0;
    cut_state = 0;
}

void InputCut::language_changed()
{
    set_fitted(ui->label_title, text(Title));
    ui->label_crop->setText(text(Crop));
    ui->label_W->setText(text(Wd));
    ui->label_H->setText(text(Ht));
    flow_edit_row();
    if (button_cancel)
        set_fitted({{button_cancel, text(Cancel)}, {button_ok, text(Ok)}, {button_delete, text(Delete)}});
}

void InputCut::flow_edit_row()
{
    // Captions and fields of the panel's second line, left to right; the
    // free line between the name and the fields takes the captions where
    // the row is too long (Russian).
    flow_row({{ui->label_crop, nullptr},
              {ui->label_X, ui->lineEdit_X},
              {ui->label_Y, ui->lineEdit_Y},
              {ui->label_W, ui->lineEdit_W},
              {ui->label_H, ui->lineEdit_H}},
             5, 305, RowFallback::CaptionsAbove);
}

u8 InputCut::get_source_num(unsigned char id)
{
    return id < kSourceCount ? source_entry_count[sourceinfo::get_listseq_by_source_id(id)] : 0;
}

void InputCut::crop_source_num_update()
{
    count_source_entries(source_entry_count);
    source_name_update();
}

void InputCut::source_name_update()
{
    set_source_tab_names(tab_name, source_entry_count);
}

int InputCut::source_current_check()
{
    int n = crop_count(source_number) + 1;
    last_pag = u8((n + 5) / 6 - 1);
    return n;
}

void InputCut::source_init()
{
    int n = source_current_check();
    int cards = qBound(0, n - 6 * current_pag, 6);
    delete list_frame;
    card_frame = nullptr;
    card_state = card_icon = card_name = card_size = nullptr;
    list_frame = new QFrame(this);
    list_frame->setObjectName("frame_source");
    list_frame->setGeometry(1, 80, 318, 120);
    list_frame->setStyleSheet(cut_state == 0 ? style_list_focused : style_list_normal);
    list_frame->lower();
    card_font.setPixelSize(10);
    std::vector<FitItem> names, sizes;
    for (int k = 0; k < cards; ++k) {
        int r = k / 3, c = k % 3;
        int e = 6 * current_pag + k;
        bool focused = cut_state == 1 && (current_pag == 0 ? ui_select == k + 1 : ui_select == k);
        card_frame = new QFrame(list_frame);
        card_frame->setGeometry(5 + 95 * c, 10 + 55 * r, 92, 45);
        card_frame->setStyleSheet(focused ? style_card_focused : style_card_normal);
        card_state = list_label(list_frame, 10 + 95 * c, 12 + 55 * r, 7, 7);
        card_state->setPixmap(QPixmap(":/png/state_on.png"));
        card_state->setScaledContents(true);
        card_icon = list_label(list_frame, 20 + 95 * c, 12 + 55 * r, 25, 8);
        card_icon->setStyleSheet("background-color: #212435;");
        sourceinfo::set_source_pixmap(card_icon, source_number == 1 ? 1 : 0);
        card_icon->setScaledContents(true);
        // Two pixels taller than the 12 of the line, so an underscore is not cut.
        card_name = list_label(list_frame, 7 + 95 * c, 22 + 55 * r, 80, 14);
        card_size = list_label(list_frame, 7 + 95 * c, 38 + 55 * r, 88, 12);
        for (QLabel* l : {card_name, card_size}) {
            l->setFont(card_font);
            l->setStyleSheet("background-color:#212435;color:#FFFFFF");
        }
        if (e == 0) {
            const SourceTiming t = source_timing(source_number);
            names.push_back({card_name, source_name});
            sizes.push_back(
                {card_size, t.signal() ? QString::asprintf("%dx%d@%dHz", t.w, t.h, t.rate) : text(NoSignal)});
        } else {
            CROP_PARA crop;
            int index = crop_entry(source_number, e, &crop);
            ALIAS_PARA alias;
            if (index < Img::kCropCount && get_json_alias_para(&alias, "crop", index)) {
                names.push_back({card_name, QString::fromStdString(alias.name)});
            } else {
                crop_suffix = QString::asprintf("_crop%d", ((crop.id >> 8) & 0x7F) + 1);
                names.push_back({card_name, source_name + crop_suffix});
            }
            sizes.push_back({card_size, QString::asprintf("%dx%d", crop.width, crop.height)});
        }
    }
    set_fitted(names);
    set_fitted(sizes);
    add_ = new QPushButton(list_frame);
    add_->setIcon(QIcon(":/png/add.png"));
    add_->setIconSize(QSize(20, 20));
    add_->setGeometry(292, 10, 20, 20);
    add_->setFocusPolicy(Qt::NoFocus);
    add_->setStyleSheet(ui_select == 0 && cut_state == 1 && current_pag == 0 ? style_add_focused : style_add_normal);
    list_frame->show();
}

void InputCut::zev_button_input_clicked()
{
    if (cut_state == 0) {
        source_number = sourceinfo::get_source_id_by_listseq(ui_select);
        source_name = sourceinfo::get_source_name_by_listseq(ui_select);
        tab_outline->setGeometry(1 + 53 * ui_select, 40, 53, 41);
        tab_outline->setStyleSheet(style_tab_focused);
    } else {
        tab_outline->setStyleSheet(style_tab_normal);
    }
    tab_outline->lower();
    source_init();
}

void InputCut::zev_button_add_clicked()
{
    add_->hide();
    crop_suffix = QString::asprintf("-Crop-%d", crop_count(source_number) + 1);
    crop_name = source_name + crop_suffix;
    set_fitted(ui->label_change_source, text(NameCaption) + crop_name);
    ui->lineEdit_X->setText("0");
    ui->lineEdit_Y->setText("0");
    ui->lineEdit_W->setText("1920");
    ui->lineEdit_H->setText("1080");
    button_cancel->setGeometry(80, 210, 60, 18);
    button_ok->setGeometry(150, 210, 60, 18);
    ui->frame_add->show();
    button_cancel->show();
    button_ok->show();
    button_delete->hide();
    panel_state = 2;
    opened_index = Img::kCropCount;
}

void InputCut::zev_button_source_clicked()
{
    crop_number = current_pag == 0 && ui_select > 0 ? u8(ui_select - 1) : u8(ui_select + 6 * current_pag);
    qCDebug(lcUi,
            "this is zev_button_source_clicked [InputCut][Release] [ui_select=%#x] [current_pag=%#x][crop_number=%#x] ",
            ui_select, current_pag, crop_number);
    if (crop_number == 0) {
        para_changed_over();
        return;
    }
    add_->hide();
    crop_suffix = QString::asprintf("-Crop-%d", crop_number);
    crop_name = source_name + crop_suffix;
    set_fitted(ui->label_change_source, text(NameCaption) + crop_name);
    CROP_PARA crop;
    int index = crop_entry(source_number, crop_number, &crop);
    ui->lineEdit_X->setText(QString::number(crop.x));
    ui->lineEdit_Y->setText(QString::number(crop.y));
    ui->lineEdit_W->setText(QString::number(crop.width));
    ui->lineEdit_H->setText(QString::number(crop.height));
    button_delete->setGeometry(50, 210, 60, 18);
    button_cancel->setGeometry(120, 210, 60, 18);
    button_ok->setGeometry(190, 210, 60, 18);
    ui->frame_add->show();
    button_delete->show();
    button_cancel->show();
    button_ok->show();
    panel_state = 3;
    opened_index = index;
    opened_id = crop_word(index);
}

int InputCut::opened_crop_ordinal()
{
    ImageReadLock lock;
    if (opened_index >= Img::kCropCount ||
        ZevRamPara::img16(Img::kCropTable + Img::kCropSize * opened_index) != opened_id)
        return 0;
    ZevRamPara::ZevCropSourceInit();
    int n = ZevRamPara::ZevGetSourceNum(source_number, 40);
    for (int k = 1; k <= n; ++k) {
        CROP_PARA crop;
        int index = Img::kCropCount;
        ZevRamPara::ZevGetCropPara(source_number, k, &crop, &index);
        if (index == opened_index)
            return k;
    }
    return 0;
}

void InputCut::store_done()
{
    crop_source_init();
    crop_source_num_update();
    source_init();
    para_changed_over();
}

void InputCut::zev_button_ok_clicked()
{
    CROP_PARA crop;
    crop.id = source_number;
    crop.x = to_short(ui->lineEdit_X->text());
    crop.y = to_short(ui->lineEdit_Y->text());
    crop.width = to_short(ui->lineEdit_W->text());
    crop.height = to_short(ui->lineEdit_H->text());
    if (panel_state == 3) {
        if (debugOn())
            zevlog::debug(lcUi(), "\n zev_button_ok_clicked soureinfo [source_number = %d] [crop_number=%d]\n",
                          source_number, crop_number);
        // The table may have changed since the panel opened: store into the
        // opened crop, wherever it now stands in the list, or not at all.
        if (int n = opened_crop_ordinal())
            ZevRamPara::ZevSetCropPara(char(source_number), char(n), &crop);
    } else {
        if (debugOn())
            zevlog::debug(lcUi(), "\n zev_button_ok_clicked add [source_number = %d] \n", source_number);
        crop_source_init();
        ZevRamPara::ZevAddNewCrop(source_number, &crop);
    }
    store_done();
    qCDebug(lcUi, "this is back button(InputCut)[zev_button_ok_clicked]\n");
}

void InputCut::zev_button_delete_clicked()
{
    if (int n = opened_crop_ordinal())
        ZevRamPara::ZevDeleteCrop(char(source_number), char(n));
    store_done();
    qCDebug(lcUi, "this is back button(InputCut)[zev_button_delete_clicked]\n");
}

void InputCut::zev_button_cancel_clicked()
{
    source_init();
    para_changed_over();
}

void InputCut::para_changed_over()
{
    ui->frame_add->hide();
    button_cancel->hide();
    button_ok->hide();
    button_delete->hide();
    add_->show();
}

QWidget* InputCut::edit_row(int row) const
{
    QWidget* rows[kRows] = {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W, ui->lineEdit_H,
                            button_delete,  button_cancel,  button_ok};
    return row >= 0 && row < kRows ? rows[row] : nullptr;
}

void InputCut::zev_sel_info(int position, int mode, int entry_count)
{
    if (mode == 2) {
        for (int r = 0; r < kRows; ++r)
            edit_row(r)->setStyleSheet(style_row_normal);
    } else if (QWidget* w = edit_row(position - entry_count)) {
        w->setStyleSheet(mode == 1 ? style_row_focused : style_row_normal);
    }
}

void InputCut::show_numberkeyboard_ui(QString)
{
    QLineEdit* field = qobject_cast<QLineEdit*>(sender());
    if (!field || !g_numberkeyboard)
        return;
    g_lineedit = field;
    QString name = field->objectName();
    QString caption = name == field_names[0]   ? "X"
                      : name == field_names[1] ? "Y"
                      : name == field_names[2] ? text(KeyW)
                                               : text(KeyH);
    g_numberkeyboard->label_show(caption, field->text());
    g_numberkeyboard->exec();
}

void InputCut::confirmString(QString value)
{
    if (g_lineedit)
        g_lineedit->setText(value);
}

void InputCut::close_panel()
{
    cut_state = 1;
    ui_select = saved_list_select;
}

void InputCut::edit_move(int step)
{
    int row = ui_select - edit_base;
    zev_sel_info(ui_select, 0, edit_base);
    do
        row = (row + step + kRows) % kRows;
    while (row == kRowDelete && cut_state == 2);
    ui_select = u8(edit_base + row);
    zev_sel_info(ui_select, 1, edit_base);
}

void InputCut::key_left()
{
    int n = source_current_check();
    if (cut_state == 0) {
        current_pag = 0;
        ui_select = ui_select == 0 || ui_select > 5 ? 5 : ui_select - 1;
        zev_button_input_clicked();
    } else if (cut_state == 1) {
        if (current_pag == 0 && ui_select == 0) {
            current_pag = last_pag;
            ui_select = u8(last_pag == 0 ? n : n - 6 * last_pag - 1);
        } else if (current_pag > 0 && ui_select == 0) {
            --current_pag;
            ui_select = current_pag == 0 ? 6 : 5;
        } else {
            --ui_select;
        }
        zev_button_input_clicked();
    } else {
        edit_move(-1);
    }
}

void InputCut::key_right()
{
    int n = source_current_check();
    if (cut_state == 0) {
        current_pag = 0;
        ui_select = ui_select >= 5 ? 0 : ui_select + 1;
        zev_button_input_clicked();
    } else if (cut_state == 1) {
        ++ui_select;
        int reached = current_pag == 0 ? ui_select >= n + 1 : 6 * current_pag + ui_select >= n;
        if (reached) {
            current_pag = 0;
            ui_select = 0;
        } else if (ui_select > (current_pag == 0 ? 6 : 5)) {
            ui_select = 0;
            current_pag = current_pag < last_pag ? current_pag + 1 : 0;
        }
        zev_button_input_clicked();
    } else {
        edit_move(1);
    }
}

void InputCut::key_ok()
{
    int n = source_current_check();
    qCDebug(lcUi, "this is OK [InputCut][Release] [ui_select=%#x] [current_pag=%#x] [max_source_info=%#x]", ui_select,
            current_pag, unsigned(n));
    if (cut_state == 0) {
        saved_source_select = ui_select;
        ui_select = 0;
        current_pag = 0;
        cut_state = 1;
        zev_button_input_clicked();
    } else if (cut_state == 1) {
        if (current_pag == 0 && ui_select == 0) {
            saved_list_select = 0;
            ui_select = u8(n);
            edit_base = n;
            zev_button_add_clicked();
            cut_state = 2;
            zev_sel_info(n, 1, n);
            return;
        }
        if (current_pag == 0 && ui_select == 1)
            return;
        int entry = current_pag == 0 ? ui_select - 1 : 6 * current_pag + ui_select;
        // A position past the last crop (after a delete) opens nothing.
        CROP_PARA crop;
        int index = entry < n ? crop_entry(source_number, entry, &crop) : Img::kCropCount;
        if (index >= Img::kCropCount)
            return;
        cut_state = 3;
        zev_button_input_clicked();
        zev_button_source_clicked();
        saved_list_select = ui_select;
        ui_select = u8(n);
        edit_base = n;
        zev_sel_info(n, 1, n);
    } else {
        int row = ui_select - edit_base;
        if (row < kRowDelete) {
            if (My_lineEdit* f = qobject_cast<My_lineEdit*>(edit_row(row)))
                emit f->send_show(f->objectName());
            return;
        }
        close_panel();
        if (row == kRowOk)
            zev_button_ok_clicked();
        else if (row == kRowCancel)
            zev_button_cancel_clicked();
        else
            zev_button_delete_clicked();
        zev_sel_info(0, 2, 0);
    }
}

void InputCut::key_back()
{
    source_current_check();
    if (cut_state == 0) {
        slot_Button_back_clicked();
    } else if (cut_state == 1) {
        cut_state = 0;
        ui_select = saved_source_select;
        zev_button_input_clicked();
    } else {
        close_panel();
        zev_button_input_clicked();
        zev_button_cancel_clicked();
        zev_sel_info(0, 2, 0);
    }
}

void InputCut::slot_Button_back_clicked()
{
    close_page();
    if (InputChoose* choose = g_inputchoose) {
        choose->language_changed();
        g_page_focus = PageId::InputChoose;
        choose->initSource();
        choose->crop_source_num_update();
    } else {
        if (PageView* option = PageRegistry::at(PageId::Option))
            option->language_changed();
        g_page_focus = PageId::Option;
    }
}

void InputCut::syncUpdate(int code)
{
    if (ZevRamPara::ZevLanguageChanged()) {
        language_changed();
        if (!ui->frame_add->isHidden())
            set_fitted(ui->label_change_source, text(NameCaption) + crop_name);
    }
    if (code == 103 || crop_table_changed()) {
        crop_source_init();
        crop_source_num_update();
        source_init();
    }
}
