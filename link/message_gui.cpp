#include "link/message_gui.h"

#include <atomic>

namespace
{
std::atomic<message_gui*> g_gui{nullptr};
} // namespace

void message_gui::install(message_gui* gui)
{
    g_gui.store(gui);
}

message_gui* message_gui::installed()
{
    return g_gui.load();
}
