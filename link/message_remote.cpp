#include "link/message_remote.h"

#include <atomic>

namespace
{
std::atomic<message_remote*> g_remote{nullptr};
} // namespace

void message_remote::install(message_remote* remote)
{
    g_remote.store(remote);
}

message_remote* message_remote::installed()
{
    return g_remote.load();
}
