#include "ui/settings/edidset.h"

#include <cstring>

#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "core/zevrampara.h"
#include "ui/picture/inputchoose.h"
#include "ui/settings/settings_rows.h"
#include "ui/shell/textfit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/pages.h"
#include "ui/shell/sourceinfo.h"
#include "ui_edidset.h"

namespace
{
enum Text { kTitle, kHeading, kWidth, kHeight, kRate, kCancel, kSave, kDelete, kKeyW, kKeyH, kTextCount };
const PageText kTexts[kTextCount] = {
    {{"设置EDID", "EDID Settings", "Настройка EDID", "Cài đặt EDID", "設置EDID"}},
    {{"EDID信源:", "EDID source:", "Источник EDID:", "Tín hiệu EDID:", "EDID信源:"}},
    {{"宽", "W", "Ширина", "Rộng", "寬"}},
    {{"高", "H", "Высота", "Cao", "高"}},
    {{"刷新率", "Refresh rate", "Частота", "Tần số", "刷新率"}},
    {{"取消", "Cancle", "Отмена", "Hủy bỏ", "取消"}},
    {{"保存", "SAVE", "Сохранить", "lưu", "保存"}},
    {{"删除", "Delete", "Удалить", "Xoá bỏ", "删除"}},
    {{"宽", "W", "W", "W", "寬"}},
    {{"高", "H", "H", "H", "高"}},
};

const char* const kHighlightInactive =
    "border:1px solid;border-bottom-color:rgb(16,16,28);border-left-color:rgb(71, 119, 255);border-right-color:rgb(71, "
    "119, 255);border-top-color:rgb(71, 119, 255);";
const char* const kHighlightFocused =
    "border:1px solid;border-bottom-color:rgb(16,16,28);border-left-color:rgb(255,171,84);border-right-color:rgb(255,"
    "171,84);border-top-color:rgb(255,171,84);";
const char* const kCardInactive = "#frame_source{border:1px solid rgb(71, 119, 255);}";
const char* const kCardFocused = "#frame_source{border:1px solid rgb(255,171,84);}";
const char* const kFieldNormal =
    "color:rgb(255,255,255);background-color: rgb(33, 36, 53) ; border:1px solid rgb(255,255,255);";
const char* const kFieldFocused =
    "color:rgb(255,255,255);background-color: rgb(33, 36, 53); border:1px solid rgb(255,171,84);";
const char* const kButtonNormal =
    "color: rgb(255, 255, 255);background-color: rgb(33, 36, 53) ; border:1px solid rgb(255,255,255);;";
const char* const kButtonFocused =
    "color: rgb(255, 255, 255);background-color: rgb(33, 36, 53); border:1px solid rgb(255,171,84);";
const char* const kEditing = "color:rgb(255,255,255);background-color: rgb(33, 36, 53); border:1px solid rgb(255,0,0);";

enum Line { kLineW, kLineH, kLineRate, kLineDelete, kLineCancel, kLineSave };

u16 record(int source, int field)
{
    return ZevRamPara::locked16(Img::kEdid + 6 * source + 2 * field);
}

// A size or rate as stored: an unsigned decimal; 0 when it is none.
u16 typed(const QString& text)
{
    bool ok = false;
    const u16 v = text.toUShort(&ok, 10);
    return ok ? v : 0;
}
} // namespace

EDIDset::EDIDset(QWidget* parent) : ZevPage(parent, PageId::EDIDset, PageId::InputChoose), ui(new Ui_EDIDset)
{
    ui->setupUi(this);
    QLabel* names[6] = {ui->sourcelistseq0name, ui->sourcelistseq1name, ui->sourcelistseq2name,
                        ui->sourcelistseq3name, ui->sourcelistseq4name, ui->sourcelistseq5name};
    QLabel* icons[6] = {ui->sourcelistseq0pixmap, ui->sourcelistseq1pixmap, ui->sourcelistseq2pixmap,
                        ui->sourcelistseq3pixmap, ui->sourcelistseq4pixmap, ui->sourcelistseq5pixmap};
    for (u8 i = 0; i < 6; ++i) {
        const u8 id = sourceinfo::get_source_id_by_listseq(i);
        set_fitted(names[i],
                   sourceinfo::get_source_specialstyle0_by_sourceid(id).arg(sourceinfo::get_source_name_by_listseq(i)));
        sourceinfo::set_source_pixmap(icons[i], id);
    }
    highlight_ = new QFrame(this);
    highlight_->setGeometry(4, 38, 50, 43);
    highlight_->setStyleSheet(kHighlightFocused);
    highlight_->lower();
    source_name_ = sourceinfo::get_source_name_by_listseq(0);
    ui->frame_add->hide();

    font_.setPixelSize(9);
    auto make_button = [this](int x) {
        auto* b = new QPushButton(this);
        b->setGeometry(x, 214, 50, 20);
        b->setFont(font_);
        b->setStyleSheet("color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);font:9px");
        b->setFocusPolicy(Qt::NoFocus);
        b->hide();
        return b;
    };
    delete_ = make_button(65);
    cancel_ = make_button(135);
    save_ = make_button(205);

    for (My_lineEdit* field : {ui->lineEdit_W, ui->lineEdit_H})
        connect(field, &My_lineEdit::send_show, this, &EDIDset::show_numberkeyboard_ui);
    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &EDIDset::confirmString);
    menulist_init();
    source_init();
    language_changed();
}

EDIDset::~EDIDset()
{
    delete ui;
}

void EDIDset::menulist_init()
{
    menu_list = {delete_, cancel_, save_, ui->lineEdit_W, ui->lineEdit_H};
    ui_select = ui_line_select = ui_seltype = rate_flag = 0;
    delete_->setStyleSheet(kButtonNormal);
    ui->lineEdit_W->setStyleSheet(kButtonNormal);
}

void EDIDset::language_changed()
{
    set_fitted(ui->label_title, page_text(kTexts[kTitle]));
    set_fitted(ui->label_edid_source, page_text(kTexts[kHeading]) + source_name_);
    ui->label_W->setText(page_text(kTexts[kWidth]));
    ui->label_H->setText(page_text(kTexts[kHeight]));
    ui->label_freq->setText(page_text(kTexts[kRate]));
    flow_row({{ui->label_W, ui->lineEdit_W}, {ui->label_H, ui->lineEdit_H}, {ui->label_freq, ui->label_rate}}, 10, 281);
    set_fitted({{delete_, page_text(kTexts[kDelete])},
                {cancel_, page_text(kTexts[kCancel])},
                {save_, page_text(kTexts[kSave])}});
}

void EDIDset::syncUpdate()
{
    if (ZevRamPara::ZevLanguageChanged())
        language_changed();
    const int o = Img::kEdid + 6 * source_id_;
    bool changed;
    {
        C331Lock lock;
        changed = std::memcmp(ZevRamPara::p_zevrampara_config + o, ZevRamPara::p_zevrampara_shadow + o, 6) != 0;
    }
    if (changed && ui_seltype == 0)
        source_init();
}

void EDIDset::source_init()
{
    delete card_;
    card_ = new QFrame(this);
    card_->setObjectName("frame_source");
    card_->setGeometry(4, 80, 310, 120);
    card_->setStyleSheet(ui_seltype != 0 ? kCardInactive : kCardFocused);
    card_->lower();
    auto* box = new QFrame(card_);
    box->setGeometry(10, 10, 120, 50);
    box->setStyleSheet("background-color: #212435;border:1px solid #CCCCCC;");
    auto* state = new QLabel(card_);
    state->setGeometry(15, 13, 7, 7);
    state->setScaledContents(true);
    state->setPixmap(QPixmap(":/png/state_on.png"));
    auto* icon = new QLabel(card_);
    icon->setGeometry(25, 13, 25, 8);
    icon->setScaledContents(true);
    icon->setStyleSheet("background-color: #212435;");
    sourceinfo::set_source_pixmap(icon, source_id_ == 1 ? 1 : 0);
    auto* name = new QLabel(source_name_, card_);
    name->setGeometry(15, 24, 60, 12);
    auto* timing = new QLabel(QString::asprintf("%dx%d@%dHz", int(short(record(source_id_, 0))),
                                                int(short(record(source_id_, 1))), int(short(record(source_id_, 2)))),
                              card_);
    timing->setGeometry(15, 39, 112, 12);
    QFont small;
    small.setPixelSize(10);
    for (QLabel* l : {name, timing}) {
        l->setStyleSheet("background-color:#212435;color:#FFFFFF");
        l->setFont(small);
    }
    card_->show();
}

void EDIDset::zev_button_input_clicked()
{
    highlight_->setGeometry(4 + 52 * ui_select, 38, 50, 43);
    source_id_ = sourceinfo::get_source_id_by_listseq(ui_select);
    source_name_ = sourceinfo::get_source_name_by_listseq(ui_select);
    source_init();
}

void EDIDset::zev_button_source_clicked()
{
    highlight_->setStyleSheet(kHighlightInactive);
    if (card_)
        card_->setStyleSheet(kCardInactive);
    set_fitted(ui->label_edid_source, page_text(kTexts[kHeading]) + source_name_);
    ui->lineEdit_W->setText(QString::number(record(source_id_, 0)));
    ui->lineEdit_H->setText(QString::number(record(source_id_, 1)));
    ui->label_rate->setText(QString::number(record(source_id_, 2)));
    rate_flag = record(source_id_, 2) == 60 ? 1 : 0;
    ui->frame_add->show();
    for (QPushButton* b : {delete_, cancel_, save_})
        b->show();
}

void EDIDset::on_Button_freq_clicked()
{
    ui->label_rate->setText(rate_flag ? "60" : "30");
}

void EDIDset::zev_button_ok_clicked()
{
    const u16 w = typed(ui->lineEdit_W->text());
    const u16 h = typed(ui->lineEdit_H->text());
    const u16 rate = typed(ui->label_rate->text());
    if (w == 0 || h == 0 || rate == 0) {
        // No record is stored with a size or rate of 0: the edit stays open
        // on the field to correct.
        focus_line(false);
        ui_line_select = w == 0 ? kLineW : h == 0 ? kLineH : kLineRate;
        focus_line(true);
        ui_seltype = 1;
        return;
    }
    highlight_->setStyleSheet(kHighlightFocused);
    focus_line(false);
    ZevRamPara::ZevSetEDIDPara(source_id_, short(w), short(h), short(rate));
    rate_flag = rate == 60 ? 1 : 0;
    ui_seltype = 0;
    source_init();
    ui->frame_add->hide();
    for (QPushButton* b : {delete_, cancel_, save_})
        b->hide();
}

void EDIDset::zev_button_cancel_clicked()
{
    highlight_->setStyleSheet(kHighlightFocused);
    if (card_)
        card_->setStyleSheet(kCardFocused);
    focus_line(false);
    ui->label_rate->setStyleSheet(kButtonNormal);
    ui->frame_add->hide();
    for (QPushButton* b : {delete_, cancel_, save_})
        b->hide();
}

void EDIDset::focus_line(bool on)
{
    switch (ui_line_select) {
    case kLineW:
        ui->lineEdit_W->setStyleSheet(on ? kFieldFocused : kFieldNormal);
        break;
    case kLineH:
        ui->lineEdit_H->setStyleSheet(on ? kFieldFocused : kFieldNormal);
        break;
    case kLineRate:
        ui->label_rate->setStyleSheet(on ? kFieldFocused : kFieldNormal);
        break;
    default: {
        QPushButton* b = ui_line_select == kLineDelete ? delete_ : ui_line_select == kLineCancel ? cancel_ : save_;
        b->setStyleSheet(on ? kButtonFocused : kButtonNormal);
        break;
    }
    }
}

void EDIDset::step_source(int delta)
{
    ui_select = u8((ui_select + delta + 6) % 6);
    zev_button_input_clicked();
}

void EDIDset::step_line(int delta)
{
    focus_line(false);
    ui_line_select = u8((ui_line_select + delta + 6) % 6);
    focus_line(true);
}

void EDIDset::key_left()
{
    if (ui_seltype == 0)
        step_source(-1);
    else if (ui_seltype == 1)
        step_line(-1);
    else {
        rate_flag ^= 1;
        on_Button_freq_clicked();
    }
}

void EDIDset::key_right()
{
    if (ui_seltype == 0)
        step_source(1);
    else if (ui_seltype == 1)
        step_line(1);
    else {
        rate_flag ^= 1;
        on_Button_freq_clicked();
    }
}

void EDIDset::key_ok()
{
    if (ui_seltype == 0) {
        zev_button_source_clicked();
        ui_line_select = kLineW;
        ui->lineEdit_W->setStyleSheet(kFieldFocused);
        ui_seltype = 1;
        return;
    }
    if (ui_seltype == 2) {
        on_Button_freq_clicked();
        ui->label_rate->setStyleSheet(kFieldFocused);
        ui_seltype = 1;
        return;
    }
    switch (ui_line_select) {
    case kLineW:
        emit ui->lineEdit_W->send_show("lineEdit_W");
        break;
    case kLineH:
        emit ui->lineEdit_H->send_show("lineEdit_H");
        break;
    case kLineRate:
        ui_seltype = 2;
        ui->label_rate->setStyleSheet(kEditing);
        rate_flag_saved = rate_flag;
        break;
    case kLineDelete:
    case kLineCancel:
        ui_seltype = 0;
        zev_button_cancel_clicked();
        ui_line_select = kLineW;
        break;
    default:
        ui_seltype = 0;
        zev_button_ok_clicked();
        if (ui_seltype == 0)
            ui_line_select = kLineW;
        break;
    }
}

void EDIDset::key_back()
{
    if (ui_seltype == 0) {
        slot_Button_back_clicked();
    } else if (ui_seltype == 1) {
        ui_seltype = 0;
        zev_button_cancel_clicked();
        ui_line_select = kLineW;
    } else {
        rate_flag = rate_flag_saved;
        on_Button_freq_clicked();
        ui->label_rate->setStyleSheet(kFieldFocused);
        ui_seltype = 1;
    }
}

void EDIDset::show_numberkeyboard_ui(QString)
{
    auto* field = qobject_cast<QLineEdit*>(sender());
    if (!field)
        return;
    const bool width = field->objectName() == "lineEdit_W";
    open_number_keyboard(field, page_text(kTexts[width ? kKeyW : kKeyH]));
}

void EDIDset::confirmString(QString text)
{
    if (number_for(this))
        g_lineedit->setText(text);
}

void EDIDset::slot_Button_back_clicked()
{
    close_page();
    if (InputChoose* inputs = g_inputchoose) {
        inputs->language_changed();
        g_page_focus = PageId::InputChoose;
        inputs->initSource();
    }
}

// MODE closes this page and the source-selection page only.
std::vector<u8> EDIDset::mode_close_chain() const
{
    return {PageId::InputChoose};
}
