#include "ui/shell/machinestate.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "core/utils.h"
#include "core/zevrampara.h"
#include "ledout/fpga_manage.h"
#include "ui/shell/pages.h"
#include "ui/shell/sourceinfo.h"
#include "ui/shell/textfit.h"
#include "ui_machinestate.h"

namespace
{
struct Texts {
    const char* title;
    const char* versions;
    const char* outputs;
    const char* inputs;
};
const Texts kTexts[5] = {
    {"设备信息", ":/png/version_state.png", ":/png/output_state.png", ":/png/input_state.png"},
    {"Devices", ":/png/en_version_state.png", ":/png/output_state.png", ":/png/input_state.png"},
    {"Устройство", ":/png/ru_version_state.png", ":/png/ru_output_state.png", ":/png/ru_input_state.png"},
    {"Thiết bị", ":/png/en_version_state.png", ":/png/output_state.png", ":/png/input_state.png"},
    {"設備信息", ":/png/version_state.png", ":/png/output_state.png", ":/png/input_state.png"},
};
// Source shown in each input column, left to right.
const u8 kColumnSource[6] = {2, 3, 4, 5, 1, 0};

void set_scaled(QLabel* label, const char* path)
{
    label->setPixmap(QPixmap(path));
    label->setScaledContents(true);
}

QString hex2(int value)
{
    return QString("%1").arg(value, 2, 16, QChar('0'));
}
QString dec2(int value)
{
    return QString("%1").arg(value, 2, 10, QChar('0'));
}
} // namespace

MachineState::MachineState(QWidget* parent)
    : ZevPage(parent, PageId::MachineState, PageId::MainWindow), ui(new Ui_MachineState)
{
    ui->setupUi(this);
    ui->label_FPGA1->setGeometry(150, 15, 140, 15);
    ui->label_FPGA2->hide();
    QLabel* names[6] = {ui->sourceid0name, ui->sourceid1name, ui->sourceid2name,
                        ui->sourceid3name, ui->sourceid4name, ui->sourceid5name};
    for (int c = 0; c < 6; ++c)
        set_fitted(names[c], sourceinfo::get_source_specialstyle0_by_sourceid(kColumnSource[c])
                                 .arg(sourceinfo::get_source_name_by_sourceid(kColumnSource[c])));
    ui->Button_back->setIcon(QIcon(":/png/back.png"));
    ui->Button_back->setIconSize(QSize(32, 32));
    ui->Button_back->hide();
    set_scaled(ui->label_state1, ":/png/output_state.png");
    set_scaled(ui->label_state2, ":/png/input_state.png");
    ui->label_state3->setScaledContents(true);
    initWlan();
    language_changed();
    version_changed();
    source_check();
    const QString barcode = Utils::net_identity().barcode;
    if (barcode != " ")
        set_fitted(ui->label_2, "SN:" + barcode);
}

MachineState::~MachineState()
{
    delete ui;
}

void MachineState::language_changed()
{
    const Texts& t = kTexts[ui_language()];
    set_fitted(ui->label_title, QString::fromUtf8(t.title));
    set_scaled(ui->label_state3, t.versions);
    set_scaled(ui->label_state1, t.outputs);
    set_scaled(ui->label_state2, t.inputs);
}

void MachineState::version_changed()
{
    const QString mcu = "MCU:V" + dec2(11) + "." + dec2(2) + "." + dec2(1) + " " + QString::number(0x2026, 16) + "-" +
                        hex2(0x03) + "-" + hex2(0x30);
    // Without the FPGA manager there is no register mirror: the version
    // reads as zeros.
    const u8* reg = fpga_manage::p_fpga_manage ? fpga_manage::MCU_REG_func[0] : nullptr;
    const int r28 = reg ? reg[28] : 0, r29 = reg ? reg[29] : 0, r30 = reg ? reg[30] : 0, r31 = reg ? reg[31] : 0;
    const QString fpga = "FPGA:V" + hex2(0x11) + "." + hex2(0) + "." + hex2(r28) + " " +
                         QString::number(0x2000 + r31, 16) + "-" + hex2(r30) + "-" + hex2(r29);
    set_fitted({{ui->label_MCU, mcu}, {ui->label_FPGA1, fpga}});
}

void MachineState::source_check()
{
    QLabel* icons[6] = {ui->sourceid0pixmap, ui->sourceid1pixmap, ui->sourceid2pixmap,
                        ui->sourceid3pixmap, ui->sourceid4pixmap, ui->sourceid5pixmap};
    for (int c = 0; c < 6; ++c) {
        const u8 s = kColumnSource[c];
        const int t = Img::kSourceTiming + 6 * s;
        bool online;
        {
            // The source-check thread writes the timings.
            ImageReadLock lock;
            online = ZevRamPara::img16(t) && ZevRamPara::img16(t + 2) && ZevRamPara::img16(t + 4);
        }
        sourceinfo::set_sourceonline_pixmap(icons[c], s, online);
        icons[c]->setScaledContents(true);
    }
}

void MachineState::initWlan()
{
    delete ports_frame;
    ports_frame = new QFrame(ui->frame);
    ports_frame->setGeometry(20, 20, 288, 65);
    ports_frame->setStyleSheet("background-color: rgb(33, 36, 53);");
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    const u16 links = fpga && fpga_manage::MCU_REG_func[0] ? fpga->get_wlan_state() : 0;
    std::vector<FitItem> numbers;
    for (int j = 0; j < 16; ++j) {
        const int x = 2 + 18 * j;
        QLabel* number = new QLabel(ports_frame);
        number->setGeometry(x + 4, 13, 12, 14);
        number->setStyleSheet("color: rgb(255, 255, 255);font: 10px");
        numbers.push_back({number, QString::asprintf("%d", j + 1)});
        QLabel* link = new QLabel(ports_frame);
        link->setGeometry(x, 27, 16, 14);
        set_scaled(link, (links >> j) & 1 ? ":/png/online.png" : ":/png/offline.png");
    }
    set_fitted(numbers);
    ports_frame->show();
}

void MachineState::syncUpdate(int code)
{
    if (ZevRamPara::ZevLanguageChanged())
        language_changed();
    source_check();
    if (fpga_manage::p_fpga_manage && code == 11)
        initWlan();
}

void MachineState::on_Button_back_clicked()
{
    slot_Button_back_clicked();
}
