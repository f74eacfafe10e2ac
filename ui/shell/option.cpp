#include "ui/shell/option.h"

#include <QDir>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QPushButton>

#include "board/board.h"
#include "link/message_deal_file.h"
#include "ui/picture/imagelayout.h"
#include "ui/picture/inputcut.h"
#include "ui/settings/test_chart.h"
#include "ui/shell/advancedoption.h"
#include "ui/shell/imagequality.h"
#include "ui/shell/linkoption.h"
#include "ui/shell/menu_pages.h"
#include "ui/shell/outputset.h"
#include "ui/shell/pages.h"
#include "ui/shell/textfit.h"
#include "ui_option.h"

namespace
{
const PageText kTitle = {{"设置", "Setting", "Настройки", "Cài đặt", "設置"}};

enum Tile { kOutput, kCrop, kLayout, kLink, kPicture, kTestChart, kSmartMapping, kAdvanced, kTileCount };

// Icon base names in tile order, and their widths (60 high) by language.
const char* const kIcons[kTileCount] = {"output_set",    "input_cut",  "image_layout",  "link_set",
                                        "image_quality", "test_chart", "smart_mapping", "AdvanceButton"};
const int kIconWidth[kTileCount][5] = {
    {55, 75, 55, 55, 55}, {55, 70, 70, 70, 55}, {55, 70, 55, 55, 55}, {55, 70, 70, 70, 55},
    {55, 75, 55, 55, 55}, {55, 55, 55, 55, 55}, {55, 55, 55, 55, 55}, {55, 54, 70, 54, 55},
};
constexpr int kIconHeight = 60;
constexpr int kEnglish = 1;
} // namespace

Option::Option(QWidget* parent)
    : MenuTilePage(parent, PageId::Option, PageId::MainWindow, Look::Guarded), ui(new Ui_Option)
{
    ui->setupUi(this);
    set_key_hints(ui->label_note_OK, ui->label_note_back);
    guard_tile(kSmartMapping, &smart_mapping_valid);
    menulist_init();
    language_changed();
}

Option::~Option()
{
    delete ui;
}

void Option::menulist_init()
{
    set_tiles<Option>({{ui->output_set, &Option::on_output_set_clicked},
                       {ui->input_cut, &Option::on_input_cut_clicked},
                       {ui->image_layout, &Option::on_image_layout_clicked},
                       {ui->link_set, &Option::on_link_set_clicked},
                       {ui->image_quality, &Option::on_image_quality_clicked},
                       {ui->test_chart, &Option::on_test_chart_clicked},
                       {ui->smart_mapping, &Option::on_smart_mapping_clicked},
                       {ui->AdvanceButton, &Option::on_AdvanceButton_clicked}});
}

void Option::language_changed()
{
    smart_mapping_valid = 1;
    set_fitted(ui->label_title, page_text(kTitle));
    const int lang = ui_language();
    for (int t = 0; t < kTileCount; ++t) {
        auto* tile = static_cast<QPushButton*>(menu_list[size_t(t)]);
        QString icon = t == kAdvanced && lang == kEnglish
                           ? QString(":/png/en_advance_option.png")
                           : lang_icon((QString(kIcons[t]) + ".png").toUtf8().constData());
        // The smart-mapping tile is disabled for the pointer only: its
        // picture stays in colour, grey being the look of an unavailable tile.
        QIcon picture(icon);
        picture.addPixmap(QPixmap(icon), QIcon::Disabled);
        tile->setIcon(picture);
        tile->setIconSize(QSize(kIconWidth[t][lang], kIconHeight));
    }
    show_guard();
}

void Option::on_output_set_clicked()
{
    open_page(g_outputset);
}

void Option::on_input_cut_clicked()
{
    open_page(g_inputcut);
}

void Option::on_image_layout_clicked()
{
    open_page(g_imagelayout);
}

void Option::on_link_set_clicked()
{
    open_page(g_linkoption);
}

void Option::on_image_quality_clicked()
{
    open_page(g_imagequality);
}

void Option::on_test_chart_clicked()
{
    open_page(g_test_chart);
}

void Option::on_smart_mapping_clicked()
{
    if (smart_mapping_valid)
        open_menu_page(PageId::SmartMapping);
}

void Option::on_AdvanceButton_clicked()
{
    open_page(g_advancedoption);
}

int Option::get_file_list_usbpath()
{
    QDir dir(board::path(QString("/mnt/usb1/")));
    if (!dir.exists())
        return 0;
    int count = 0;
    for (const QFileInfo& f : dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::Unsorted))
        if (f.suffix() == "kqfile")
            ++count;
    return count;
}

QImage Option::converToGrayscale(const QImage& image)
{
    return image.convertToFormat(QImage::Format_Grayscale8);
}

void Option::install_file_hooks()
{
    g_file_command_hooks.option_language_changed = queued_refresh(PageId::Option);
}
