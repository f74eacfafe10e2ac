#include "ledout/passby.h"

#include <atomic>
#include <mutex>

namespace passby
{
namespace
{
std::mutex g_cards_mutex;
card_side g_cards;
std::atomic<answer_sink> g_sink{nullptr};
} // namespace

void install(const card_side& side)
{
    std::lock_guard<std::mutex> lock(g_cards_mutex);
    g_cards = side;
}

card_side cards()
{
    std::lock_guard<std::mutex> lock(g_cards_mutex);
    return g_cards;
}

bool installed()
{
    card_side c = cards();
    return c.lock && c.forward && c.service;
}

void set_answer_sink(answer_sink sink)
{
    g_sink.store(sink);
}

bool queue_answer(const u8* body, int length)
{
    answer_sink sink = g_sink.load();
    return sink && sink(body, length);
}
} // namespace passby
