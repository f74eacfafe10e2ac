#include "ui/settings/ledset.h"

#include <QMutexLocker>
#include <QRegularExpression>
#include <QPixmap>
#include <QPushButton>

#include "core/utils.h"
#include "core/zevrampara.h"
#include "ledout/fpga_manage.h"
#include "ui/settings/settings_rows.h"
#include "ui/shell/textfit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/pages.h"
#include "ui/shell/syncupdate.h"
#include "ui_ledset.h"
#include "video/c331_manage.h"

namespace
{
enum Text { kTitle, kWidth, kHeight, kApply, kCancel, kNote, kTip, kKeyW, kKeyH, kTextCount };
const PageText kTexts[kTextCount] = {
    {{"LED设置", "LED Setting", "Настройка LED", "Cài đặt LED", "LED設置"}},
    {{"宽", "W", "Ширина", "Rộng", "寬"}},
    {{"高", "H", "Высота", "Cao", "高"}},
    {{"应用", "Apply", "OK", "Đồng ý", "應用"}},
    {{"取消", "Cancle", "Отмена", "Hủy bỏ", "取消"}},
    {{"设置LED屏宽高", "Set LED W&H", "Разрешение LED шир и выс", "Cài đặt thông số led", "設置LED屏寬高"}},
    {{"可设LED屏最大点数:%d(宽),%d(高)", "LED max:%d(w),%d(h)", "Ширина:%d(px)Высота:%d(px)",
      "Điểm ảnh lớn nhất:%d(ngang),%d(dọc)", "可設LED屏最大點數:%d(寬),%d(高)"}},
    // Number-keyboard captions: only the Chinese ones are translated.
    {{"宽", "W", "W", "W", "寬"}},
    {{"高", "H", "H", "H", "高"}},
};

constexpr int kMaxSide = 8188;
constexpr int kMinSide = 64;
constexpr long kMaxArea = 10485760;
constexpr long kMaxAreaByHeight = 13000000;
enum Row { kRowWidth, kRowHeight, kRowApply, kRowCancel };

// A typed number: a run of digits too long for an int is as much too large
// as any other.
long typed_value(const QString& text)
{
    bool ok = false;
    long v = text.toLong(&ok, 10);
    if (ok)
        return v;
    static const QRegularExpression kDigits("^\\d+$");
    return kDigits.match(text).hasMatch() ? long(kMaxSide) + 1 : 0;
}

long field_value(const QString& text)
{
    return text.toShort(nullptr, 10);
}

QString field_style(bool focused)
{
    return focused ? "color:rgb(255, 255, 255);background-color: rgb(33, 36, 53);border:1px solid rgb(255,171,84);"
                   : "color:rgb(255, 255, 255);background-color:rgb(33, 36, 53);border:1px solid rgb(255,255,255);";
}

QString button_style(bool focused)
{
    return focused
               ? "color: rgb(255, 255, 255);background-color: rgb(33, 36, 53); border:1px solid rgb(255,171,84);"
               : "color: rgb(255, 255, 255);background-color: rgb(33, 36, 53) ; border:1px solid rgb(255,255,255) ;";
}
} // namespace

void ledset_limit(bool width, const QString& entered, QString* w, QString* h)
{
    QString* mine = width ? w : h;
    QString* other = width ? h : w;
    const long v = typed_value(entered);
    const long o = field_value(*other);
    if (v > kMaxSide) {
        *mine = QString::number(kMaxSide);
        if (o * kMaxSide > kMaxArea)
            *other = "1280";
    } else if (v >= kMinSide) {
        *mine = QString::number(v);
        const long cap = width ? kMaxArea : kMaxAreaByHeight;
        if (o * v > cap)
            *other = QString::number(cap / v);
    } else {
        *mine = QString::number(kMinSide);
    }
}

ledset::ledset(QWidget* parent) : ZevPage(parent, PageId::ledset, PageId::OutputSet), ui(new Ui_ledset)
{
    ui->setupUi(this);
    ui->label_warning->setPixmap(QPixmap(":/png/warning.png"));
    for (My_lineEdit* field : {ui->lineEdit_ledw, ui->lineEdit_ledh})
        connect(field, &My_lineEdit::send_show, this, &ledset::show_numberkeyboard_ui);
    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &ledset::confirmString);
    para_init();
    menulist_init();
    language_changed();
}

ledset::~ledset()
{
    delete ui;
}

void ledset::para_init()
{
    short w, h;
    {
        C331Lock lock;
        w = short(ZevRamPara::img16(Img::kLedWidth));
        h = short(ZevRamPara::img16(Img::kLedHeight));
    }
    ui->lineEdit_ledw->setText(QString::asprintf("%d", int(w)));
    ui->lineEdit_ledh->setText(QString::asprintf("%d", int(h)));
}

void ledset::menulist_init()
{
    menu_list = {ui->lineEdit_ledw, ui->lineEdit_ledh, ui->Button_apply, ui->Button_cancle};
    ZevPage::menulist_init();
}

QString ledset::row_style(int row, bool focused) const
{
    return row <= kRowHeight ? field_style(focused) : button_style(focused);
}

void ledset::language_changed()
{
    set_fitted(ui->label_ledset, page_text(kTexts[kTitle]));
    set_fitted({{ui->label_ledw, page_text(kTexts[kWidth])}, {ui->label_ledh, page_text(kTexts[kHeight])}});
    set_fitted({{ui->Button_apply, page_text(kTexts[kApply])}, {ui->Button_cancle, page_text(kTexts[kCancel])}});
    set_fitted(ui->label_note_led_w, page_text(kTexts[kNote]));
    set_fitted(ui->label_tip, QString::asprintf(page_text(kTexts[kTip]).toUtf8().constData(), kMaxSide, kMaxSide));
}

void ledset::syncUpdate()
{
    bool resized;
    {
        C331Lock lock;
        resized = ZevRamPara::img16(Img::kLedWidth) != ZevRamPara::shadow16(Img::kLedWidth) ||
                  ZevRamPara::img16(Img::kLedHeight) != ZevRamPara::shadow16(Img::kLedHeight);
    }
    if (ZevRamPara::ZevLanguageChanged())
        language_changed();
    if (resized)
        para_init();
}

void ledset::key_ok()
{
    switch (ui_select) {
    case kRowWidth:
        emit ui->lineEdit_ledw->send_show("lineEdit_ledw");
        break;
    case kRowHeight:
        emit ui->lineEdit_ledh->send_show("lineEdit_ledh");
        break;
    case kRowApply:
        on_Button_apply1_clicked();
        break;
    default:
        slot_Button_back_clicked();
        break;
    }
}

void ledset::show_numberkeyboard_ui(QString)
{
    auto* field = qobject_cast<QLineEdit*>(sender());
    if (!field)
        return;
    entering_ = field->objectName();
    const bool width = entering_ == "lineEdit_ledw";
    open_number_keyboard(field, page_text(kTexts[width ? kKeyW : kKeyH]));
}

void ledset::confirmString(QString text)
{
    if (!number_for(this))
        return;
    QString w = ui->lineEdit_ledw->text();
    QString h = ui->lineEdit_ledh->text();
    ledset_limit(g_lineedit == ui->lineEdit_ledw, text, &w, &h);
    ui->lineEdit_ledw->setText(w);
    ui->lineEdit_ledh->setText(h);
}

void ledset::on_Button_apply1_clicked()
{
    // The fields are checked again: whatever put a value there, nothing
    // outside the limits reaches the image.
    QString w = ui->lineEdit_ledw->text();
    QString h = ui->lineEdit_ledh->text();
    ledset_limit(true, QString::number(field_value(w)), &w, &h);
    ledset_limit(false, QString::number(field_value(h)), &w, &h);
    ui->lineEdit_ledw->setText(w);
    ui->lineEdit_ledh->setText(h);
    const u16 W = u16(field_value(w));
    const u16 H = u16(field_value(h));

    bool resized;
    {
        C331Lock lock;
        // An LED size the PC wrote and never applied may have reached the
        // shadow with a page refresh: the LED is still set up for another.
        const bool pending = ZevRamPara::take_led_size_change();
        u8* img = ZevRamPara::p_zevrampara_config;
        const u16 words[] = {0, W, H};
        for (int i = 0; i < 3; ++i)
            ZevRamPara::put16(img, Img::kSpliceMode + 2 * i, words[i]);
        for (int out : {1408, 1416}) {
            const u16 rect[] = {0, 0, W, H};
            for (int i = 0; i < 4; ++i)
                ZevRamPara::put16(img, out + 2 * i, rect[i]);
        }
        resized = pending || W != ZevRamPara::shadow16(Img::kLedWidth) || H != ZevRamPara::shadow16(Img::kLedHeight);
        if (resized) {
            ZevRamPara::put16(img, Img::kLayer + Img::kLayerX, 0);
            ZevRamPara::put16(img, Img::kLayer + Img::kLayerY, 0);
            ZevRamPara::put16(img, Img::kLayer + Img::kLayerW, W);
            ZevRamPara::put16(img, Img::kLayer + Img::kLayerH, H);
            for (int layer = 1; layer < 6; ++layer)
                ZevRamPara::put16(img, Img::kLayer + Img::kLayerSize * layer + Img::kLayerEnable, 0);
            if (fpga_manage::shadow_reg(0, FpgaReg::kState) == 3) {
                QMutexLocker led(&Utils::_led_para_init_mutex);
                g_set_led_para = 1;
                g_set_led_setup = 0;
            }
        }
        c331_manage::para_update_flag = 1;
    }
    // Confirmed once the image holding the new size is on disk.
    if (resized)
        SyncUpdate::pInstance()->ask_done_tip();
}
