// The FPGA manager's side of the PC pass-through to the receiving cards: the
// card side it installs for the links to forward frames through, and the
// answer sink through which card answers leave it. The links install the
// sink, so this layer needs nothing of them.
#pragma once

#include <pthread.h>

#include "core/global.h"

// Markers of g_passby_trans_port.
enum : u8 { PASSBY_SERIAL = 1, PASSBY_TCP = 2, PASSBY_UDP = 3, PASSBY_4G = 4, PASSBY_NONE = 255 };

// A link waiting for the cards' answer gives up after this many ticks; once
// the cards let a frame go unanswered, the frames that were already queued
// behind it wait only kPassbyRetryTicks each, until an answer comes again.
constexpr u32 kPassbyGiveUpTicks = 200;
constexpr u32 kPassbyRetryTicks = 30;
// The cards take frames shorter than this; a longer one is not queued.
constexpr int kPassbyMaxFrame = 1024;

namespace passby
{
// The receiving-card side of the pass-through, installed once by the FPGA
// manager when it can forward frames:
//   lock     its service lock (held around forward and service, and by the
//            FPGA worker around its own interrupt service);
//   forward  Dealwith1_PC_to_eth: forwards an un-escaped PC frame, BCC
//            included;
//   service  reg_IRQ_Dealwith(0, 0): one turn of the interrupt service;
//   awaited  after forward, with the lock held: whether the frame reached a
//            port with link and cards, so that an answer can come.
// While none is installed, frames for the cards are dropped without a reply.
struct card_side {
    pthread_mutex_t* lock = nullptr;
    int (*forward)(unsigned int length, unsigned char* frame) = nullptr;
    void (*service)() = nullptr;
    bool (*awaited)() = nullptr;
};
void install(const card_side& side);
bool installed();
card_side cards();

// Where card answers go: the links' function that queues an answer (un-escaped
// body, BCC included) on the link marked in g_passby_trans_port.
using answer_sink = bool (*)(const u8* body, int length);
void set_answer_sink(answer_sink sink);

// For the interrupt service, with the service lock held: hands a card answer
// to the sink, which queues it for the client or sender of the marked link's
// last pass-through frame and resets the mark to 255. False when no sink is
// installed or no link is marked: the answer is dropped.
bool queue_answer(const u8* body, int length);
} // namespace passby
