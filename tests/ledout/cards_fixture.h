// The simulated FPGA and its receiving cards, as the card tests drive them.
#pragma once

#include <vector>

#include <QtTest>

#include "board/sim/sim_cards.h"
#include "board/sim/sim_fpga.h"
#include "core/global.h"
#include "core/utils.h"
#include "support/sim_fixture.h"

using Bytes = std::vector<u8>;

inline Bytes withBcc(Bytes b)
{
    b.push_back(Utils::BCC(b.data(), unsigned(b.size())));
    return b;
}

// A simulated board with only the FPGA and its cards attached.
inline SimFixture* cardsBoard()
{
    auto* fx = new SimFixture(false);
    board::sim::attachFpga(fx->board());
    board::sim::attachCards(fx->board(), [] { return G_timeTicks.load(); });
    return fx;
}

// Writes the cards file and takes it as the new layout.
inline void layout(const QByteArray& text)
{
    QVERIFY(writeHostFile(QString::fromStdString(board::sim::simCards()->path()), text));
    board::sim::simCards()->reload();
}
