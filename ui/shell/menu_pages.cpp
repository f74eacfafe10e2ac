#include "ui/shell/menu_pages.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>

#include "core/logging.h"
#include "ui/maintenance/factory.h"
#include "ui/maintenance/factoryage.h"
#include "ui/maintenance/firmware_usbgrade.h"
#include "ui/maintenance/rcv_recovery.h"
#include "ui/maintenance/smartmapping.h"
#include "ui/picture/inputchoose.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/option.h"
#include "ui/shell/pages.h"
#include "ui/shell/textfit.h"

namespace
{
template <class T> ZevPage* make_page()
{
    return new T(nullptr);
}

struct MenuPage {
    u8 id;
    ZevPage* (*make)();
};

// One line per page the main menu opens.
const MenuPage kMenuPages[] = {
    {PageId::MachineState, &make_page<MachineState>},
    {PageId::InputChoose, &make_page<InputChoose>},
    {PageId::Option, &make_page<Option>},
    {PageId::SmartMapping, &make_page<SmartMapping>},
    {PageId::rcv_recovery, &make_page<rcv_recovery>},
    {PageId::firmware_usbgrade, &make_page<firmware_usbgrade>},
    {PageId::factory, &make_page<factory>},
    {PageId::factoryage, &make_page<factoryage>},
};

const PageText kUnavailable = {
    {"该功能暂不可用", "Not available yet", "Пока недоступно", "Chưa khả dụng", "該功能暫不可用"}};
constexpr int kNoteMs = 2000;
} // namespace

bool open_menu_page(u8 id)
{
    for (const MenuPage& entry : kMenuPages) {
        if (entry.id != id)
            continue;
        ZevPage* page = entry.make();
        PageRegistry::set(id, page);
        g_page_focus = id;
        page->exec();
        return true;
    }
    page_unavailable(id);
    return false;
}

void page_unavailable(u8 id)
{
    qCWarning(lcUi, "page %d is not available in this build", id);
    show_unavailable_note();
}

void show_unavailable_note()
{
    // Over the page that asked (a menu page covers the main window).
    QWidget* over = QApplication::activeModalWidget();
    if (!over)
        over = g_mainwindow;
    QLabel* note = new QLabel(over);
    note->setAttribute(Qt::WA_DeleteOnClose);
    note->setGeometry(60, 100, 200, 40);
    note->setAlignment(Qt::AlignCenter);
    note->setStyleSheet("background-color: rgb(136, 138, 133);color: rgb(255, 255, 255);font: 15px");
    set_fitted(note, page_text(kUnavailable));
    note->show();
    note->raise();
    QTimer::singleShot(kNoteMs, note, &QLabel::close);
}
