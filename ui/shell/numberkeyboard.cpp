#include "ui/shell/numberkeyboard.h"

#include <QFrame>
#include <QKeyEvent>
#include <QRegExpValidator>

#include "core/logging.h"
#include "ui/shell/pagepattern.h"
#include "ui/shell/textfit.h"
#include "ui_numberkeyboard.h"

QString l_str;

namespace
{
const PageText kTexts[] = {
    {{"取消", "Cancle", "Отмена", "Hủy bỏ", "取消"}},
    {{"确定", "OK", "OK", "Đồng ý", "確定"}},
};
enum { kClose, kOk };
constexpr int kConfirm = 13;
// How far the focus ring stands out around a key.
constexpr int kRing = 3;
// The longest entry the keypad takes; further digits are ignored.
constexpr int kMaxDigits = 19;
} // namespace

NumberKeyboard::NumberKeyboard(QWidget* parent)
    : QDialog(parent), ui(new Ui_NumberKeyboard), style_white("background-color: rgb(255, 255, 255);border:1px ;"),
      style_white_focused("background-color: rgb(255, 255, 255);border:1px solid rgb(255,171,84);"),
      style_blue("background-color: rgb(71, 119, 255);border:1px ;"),
      style_blue_focused("background-color: rgb(71, 119, 255);border:1px solid rgb(255,171,84);")
{
    shell_resources_init();
    ui->setupUi(this);
    ui->lineEdit->setValidator(new QRegExpValidator(QRegExp("[*0-9]+$", Qt::CaseSensitive), ui->lineEdit));
    ui->lineEdit->setMaxLength(kMaxDigits);
    // The keys' own orange border hardly shows on the blue confirm key: a
    // ring in the gap around the focused key marks it on every key alike.
    cursor_ = new QFrame(this);
    cursor_->setStyleSheet("border:2px solid rgb(255,171,84);background:transparent;");
    cursor_->setAttribute(Qt::WA_TransparentForMouseEvents);
    cursor_->hide();
    menulist_init();
}

NumberKeyboard::~NumberKeyboard()
{
    delete ui;
}

void NumberKeyboard::menulist_init()
{
    QWidget* order[14] = {ui->Button1, ui->Button2, ui->Button3,      ui->Button4,  ui->Button5,
                          ui->Button6, ui->Button7, ui->Button8,      ui->Button9,  ui->Button0,
                          ui->ButtonC, ui->ButtonX, ui->Button_close, ui->Button_ok};
    for (int i = 0; i < 14; ++i)
        menu_list[i] = order[i];
    ui_select = 0;
    focus_widget = menu_list[0];
    focus_widget->setStyleSheet(style_white);
}

void NumberKeyboard::language_changed()
{
    set_fitted({{ui->Button_close, page_text(kTexts[kClose])}, {ui->Button_ok, page_text(kTexts[kOk])}});
}

void NumberKeyboard::label_show(QString title, QString value)
{
    set_fitted(ui->label, title);
    l_str.clear();
    ui->lineEdit->setText(value);
    language_changed();
}

int NumberKeyboard::exec()
{
    if (isVisible())
        return QDialog::Rejected;
    return QDialog::exec();
}

QString NumberKeyboard::text() const
{
    return ui->lineEdit->text();
}

void NumberKeyboard::set_key_style(int index, bool focused)
{
    if (focused) {
        cursor_->setGeometry(menu_list[index]->geometry().adjusted(-kRing, -kRing, kRing, kRing));
        cursor_->show();
        cursor_->raise();
    }
    if (index == kConfirm)
        menu_list[index]->setStyleSheet(focused ? style_blue_focused : style_blue);
    else
        menu_list[index]->setStyleSheet(focused ? style_white_focused : style_white);
}

void NumberKeyboard::press_digit(int digit)
{
    if (l_str.size() >= kMaxDigits)
        return;
    // A zero on an entry worth zero keeps the cleared state: no leading zeros.
    if (digit == 0 && l_str.count('0') == l_str.size()) {
        l_str.clear();
        ui->lineEdit->setText("0");
        return;
    }
    l_str += QString::number(digit);
    ui->lineEdit->setText(l_str);
    qCDebug(lcUi) << l_str;
}

void NumberKeyboard::on_ButtonC_clicked()
{
    ui->lineEdit->setText("0");
    l_str.clear();
}

void NumberKeyboard::on_ButtonX_clicked()
{
    QString t = ui->lineEdit->text();
    if (t.isEmpty())
        return;
    t.chop(1);
    ui->lineEdit->setText(t);
    l_str = t;
}

void NumberKeyboard::on_Button_ok_clicked()
{
    emit sendKeyBoardUIDataToLineEdit(ui->lineEdit->text());
    hide();
}

void NumberKeyboard::on_Button_close_clicked()
{
    hide();
}

void NumberKeyboard::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F6)
        qCDebug(lcUi, "this is OK button(NumberKeyboard)[Press]\n");
    else if (event->key() == Qt::Key_PowerOff)
        qCDebug(lcUi, "this is back button(NumberKeyboard)[Press]\n");
}

void NumberKeyboard::keyReleaseEvent(QKeyEvent* event)
{
    switch (panel_key(event->key())) {
    case PanelKey::Left:
        qCDebug(lcUi, "this is left-code [NumberKeyboard][Release] ui_select=%#x", ui_select);
        set_key_style(ui_select, false);
        ui_select = ui_select == 0 ? 13 : u8(ui_select - 1);
        focus_widget = menu_list[ui_select];
        set_key_style(ui_select, true);
        break;
    case PanelKey::Right:
        qCDebug(lcUi, "this is right-code [NumberKeyboard][Release] ui_select=%#x", ui_select);
        set_key_style(ui_select, false);
        ui_select = ui_select == 13 ? 0 : u8(ui_select + 1);
        focus_widget = menu_list[ui_select];
        set_key_style(ui_select, true);
        break;
    case PanelKey::Ok:
        qCDebug(lcUi, "this is OK button(NumberKeyboard)[Release]\n");
        if (ui_select <= 8)
            press_digit(ui_select + 1);
        else if (ui_select == 9)
            press_digit(0);
        else if (ui_select == 10)
            on_ButtonC_clicked();
        else if (ui_select == 11)
            on_ButtonX_clicked();
        else if (ui_select == 12)
            on_Button_close_clicked();
        else
            on_Button_ok_clicked();
        break;
    case PanelKey::Back:
        qCDebug(lcUi, "this is back button(NumberKeyboard)[Release]\n");
        on_Button_close_clicked();
        break;
    default:
        break;
    }
}
