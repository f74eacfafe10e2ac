#include "ui/maintenance/smartmapping.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPushButton>

#include "board/board.h"
#include "ledout/fpga_jobs.h"
#include "ledout/fpga_manage.h"
#include "ledout/rcv_recovery_file.h"
#include "ui/maintenance/maintenance_jobs.h"
#include "ui/settings/settings_rows.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/pages.h"
#include "ui/shell/textfit.h"
#include "ui_smartmapping.h"

namespace
{
enum Text {
    kTitle,
    kPort,
    kRoute,
    kRows,
    kCols,
    kWidth,
    kHeight,
    kX,
    kY,
    kFile,
    kNoFile,
    kSend,
    kLoad,
    kSave,
    kMapping,
    kTextCount
};
const PageText kTexts[kTextCount] = {
    {{"智能映射", "Smart Mapping", "Смарт-маппинг", "Ánh xạ thông minh", "智能映射"}},
    {{"网口", "Port", "Порт", "Cổng", "網口"}},
    {{"走线", "Route", "Маршрут", "Đường đi", "走線"}},
    {{"行数", "Rows", "Строки", "Hàng", "行數"}},
    {{"列数", "Columns", "Столбцы", "Cột", "列數"}},
    {{"箱体宽", "Width", "Ширина", "Rộng", "箱體寬"}},
    {{"箱体高", "Height", "Высота", "Cao", "箱體高"}},
    {{"起点X", "X start", "Начало X", "X đầu", "起點X"}},
    {{"起点Y", "Y start", "Начало Y", "Y đầu", "起點Y"}},
    {{"文件", "File", "Файл", "Tệp", "文件"}},
    {{"无文件", "No file", "Нет файла", "Không có tệp", "無文件"}},
    {{"发送", "Send", "Отправить", "Gửi", "發送"}},
    {{"加载", "Load", "Загрузить", "Tải", "加載"}},
    {{"参数固化", "Parameter curing", "Сохранить", "Lưu tham số", "參數固化"}},
    {{"映射开关", "Mapping", "Маппинг", "Ánh xạ", "映射開關"}},
};

// Rows in focus order: the eight numbers, the file, the four actions.
enum Row {
    kRowPort,
    kRowRoute,
    kRowRows,
    kRowCols,
    kRowWidth,
    kRowHeight,
    kRowX,
    kRowY,
    kRowFile,
    kRowSend,
    kRowLoad,
    kRowSave,
    kRowMapping,
    kRowCount
};
constexpr int kNumberRows = kRowFile;

// Accepted range of each number row.
struct Range {
    int min;
    int max;
};
const Range kRanges[kNumberRows] = {{1, 16},    {1, 16},    {1, 255},   {1, 255},
                                    {1, 32767}, {1, 32767}, {0, 65535}, {0, 65535}};

constexpr u8 kMappingBit = 0x80;
constexpr int kActionHeight = 27;
const char* const kScanDirs[] = {"/data/smartmapping", "/mnt/usb1/"};
} // namespace

SmartMapping::SmartMapping(QWidget* parent)
    : ZevPage(parent, PageId::SmartMapping, PageId::Option), ui(new Ui_SmartMapping)
{
    ui->setupUi(this);
    note_ = JobEndNote(ui->label_job_end);
    // The actions take the rest of the frame: room for a name on two lines.
    for (QPushButton* b : {ui->Button_send, ui->Button_load, ui->Button_save, ui->Button_mapping})
        b->resize(b->width(), kActionHeight);
    set_key_hints(ui->label_note_OK, ui->label_note_back);
    for (My_lineEdit* e : {ui->lineEdit_port, ui->lineEdit_route, ui->lineEdit_rows, ui->lineEdit_cols,
                           ui->lineEdit_width, ui->lineEdit_height, ui->lineEdit_x, ui->lineEdit_y})
        connect(e, &My_lineEdit::send_show, this, &SmartMapping::show_numberkeyboard_ui);
    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &SmartMapping::confirmString);
    para_init();
    menulist_init();
    language_changed();
}

SmartMapping::~SmartMapping()
{
    delete ui;
}

QLineEdit* SmartMapping::field(int row) const
{
    QLineEdit* const fields[kNumberRows] = {ui->lineEdit_port, ui->lineEdit_route, ui->lineEdit_rows,
                                            ui->lineEdit_cols, ui->lineEdit_width, ui->lineEdit_height,
                                            ui->lineEdit_x,    ui->lineEdit_y};
    return row >= 0 && row < kNumberRows ? fields[row] : nullptr;
}

void SmartMapping::para_init()
{
    // The fields start from the pattern last sent, with a usable default.
    const MAPPING_LINE_PARA& l = line_type;
    const int values[kNumberRows] = {l.port + 1,
                                     l.pattern ? l.pattern : 1,
                                     l.rows ? l.rows : 1,
                                     l.cols ? l.cols : 1,
                                     l.cab_width > 0 ? l.cab_width : 128,
                                     l.cab_height > 0 ? l.cab_height : 128,
                                     l.x_origin,
                                     l.y_origin};
    for (int r = 0; r < kNumberRows; ++r)
        field(r)->setText(QString::number(values[r]));
    list_scan_files();
}

void SmartMapping::menulist_init()
{
    menu_list = {ui->lineEdit_port,   ui->lineEdit_route, ui->lineEdit_rows, ui->lineEdit_cols, ui->lineEdit_width,
                 ui->lineEdit_height, ui->lineEdit_x,     ui->lineEdit_y,    ui->Button_file,   ui->Button_send,
                 ui->Button_load,     ui->Button_save,    ui->Button_mapping};
    for (size_t r = 1; r < menu_list.size(); ++r)
        set_row_style(int(r), false);
    ZevPage::menulist_init();
}

void SmartMapping::language_changed()
{
    set_fitted(ui->label_title, page_text(kTexts[kTitle]));
    QLabel* const labels[] = {ui->label_port,   ui->label_route, ui->label_rows, ui->label_cols, ui->label_width,
                              ui->label_height, ui->label_x,     ui->label_y,    ui->label_file};
    std::vector<FitItem> names;
    for (int i = 0; i <= kFile - kPort; ++i)
        names.push_back({labels[i], page_text(kTexts[kPort + i])});
    set_fitted(names);
    set_fitted({{ui->Button_send, page_text(kTexts[kSend])},
                {ui->Button_load, page_text(kTexts[kLoad])},
                {ui->Button_save, page_text(kTexts[kSave])},
                {ui->Button_mapping, page_text(kTexts[kMapping])}});
    show_file();
    note_.refresh();
}

void SmartMapping::syncUpdate(int code)
{
    ZevPage::syncUpdate(code);
    if (code >= 100 && code <= 103 && !g_qround_bar) {
        list_scan_files();
        show_file();
    }
}

void SmartMapping::list_scan_files()
{
    // The stored files first; the stick's when none are stored (as the load
    // job looks for them).
    files_.clear();
    rcvRecovery& reader = record_file_reader();
    for (const char* dir : kScanDirs) {
        if (reader.get_dir_file(dir) != 0)
            continue;
        QStringList names = reader.scan_files();
        names.sort();
        for (const QString& name : names)
            files_ << QDir(dir).filePath(name);
        if (!files_.isEmpty())
            break;
    }
    if (!files_.contains(g_kqfile_name.get()))
        g_kqfile_name.set(files_.isEmpty() ? QString() : files_.first());
}

void SmartMapping::show_file()
{
    set_fitted(ui->Button_file,
               g_kqfile_name.get().isEmpty() ? page_text(kTexts[kNoFile]) : QFileInfo(g_kqfile_name.get()).fileName());
}

void SmartMapping::show_job_end(fpga_jobs::JobEnd how)
{
    note_.set(how);
}

void SmartMapping::post(u8 job)
{
    if (post_job_with_bar(this, job))
        show_job_end(fpga_jobs::JobEnd::Whole);
}

void SmartMapping::on_Button_file_clicked()
{
    if (g_qround_bar || files_.isEmpty())
        return;
    g_kqfile_name.set(files_[(files_.indexOf(g_kqfile_name.get()) + 1) % files_.size()]);
    show_file();
}

void SmartMapping::Button_back_clicked()
{
    if (g_qround_bar)
        return;
    back_to(PageId::Option);
}

void SmartMapping::keyReleaseEvent(QKeyEvent* event)
{
    // The page that owns the bar stays as it is until its job ends.
    if (g_qround_bar)
        return;
    // While the note of the last job shows, a key only takes it away: the
    // note covers the rows the key would act on.
    if (note_.take_key())
        return;
    ZevPage::keyReleaseEvent(event);
}

void SmartMapping::on_row_ok(int row)
{
    if (row < kNumberRows) {
        show_numberkeyboard_ui(field(row)->objectName());
        return;
    }
    switch (row) {
    case kRowFile:
        on_Button_file_clicked();
        break;
    case kRowSend:
        on_Button_send_clicked();
        break;
    case kRowLoad:
        on_Button_load_clicked();
        break;
    case kRowSave:
        on_Button_save_clicked();
        break;
    case kRowMapping:
        on_Button_mapping_clicked();
        break;
    default:
        break;
    }
}

void SmartMapping::show_numberkeyboard_ui(QString name)
{
    for (int r = 0; r < kNumberRows; ++r)
        if (field(r)->objectName() == name && !g_qround_bar)
            open_number_keyboard(field(r), page_text(kTexts[kPort + r]));
}

void SmartMapping::confirmString(QString text)
{
    if (!number_for(this))
        return;
    for (int r = 0; r < kNumberRows; ++r) {
        if (g_lineedit != field(r))
            continue;
        bool ok = false;
        const int v = text.toInt(&ok);
        // A value outside the row's range is not taken.
        if (ok && v >= kRanges[r].min && v <= kRanges[r].max)
            field(r)->setText(QString::number(v));
    }
}

void SmartMapping::on_Button_send_clicked()
{
    if (!job_can_post())
        return;
    // The worker reads the pattern only after the post publishes it.
    MAPPING_LINE_PARA& l = line_type;
    l.port = u8(field(kRowPort)->text().toInt() - 1);
    l.pattern = u8(field(kRowRoute)->text().toInt());
    l.rows = u8(field(kRowRows)->text().toInt());
    l.cols = u8(field(kRowCols)->text().toInt());
    l.cab_width = int16_t(field(kRowWidth)->text().toInt());
    l.cab_height = int16_t(field(kRowHeight)->text().toInt());
    l.x_origin = u16(field(kRowX)->text().toInt());
    l.y_origin = u16(field(kRowY)->text().toInt());
    post(JOB_SMART_MAPPING);
}

void SmartMapping::on_Button_load_clicked()
{
    if (g_kqfile_name.get().isEmpty())
        return;
    post(JOB_SCAN_LOAD);
}

void SmartMapping::on_Button_save_clicked()
{
    post(JOB_SAVE_TO_CARDS);
}

void SmartMapping::on_Button_mapping_clicked()
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (!fpga || !job_can_post())
        return;
    const bool on = !(fpga_manage::shadow_reg(0, 0) & kMappingBit);
    if (fpga->write_to_register(0, kMappingBit, on ? kMappingBit : 0, 0) != 1)
        return;
    g_send_para.mapping_state = on ? 9 : 0;
    post(JOB_MAPPING_SWITCH);
}
