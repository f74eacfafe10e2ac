// Receiving-card record files built byte by byte for the tests: recovery
// packs (screens, ports with per-card operations, parameter operations)
// and scan-parameter files.
#pragma once

#include <cstdint>
#include <vector>

using FileBytes = std::vector<uint8_t>;

struct RcvOp {
    uint8_t type = 1;
    uint8_t target = 1;
    uint32_t targetAddr = 0;
    uint32_t timeticks = 100;
    FileBytes data;
};
struct RcvPort {
    uint16_t ledx = 0;
    std::vector<std::vector<RcvOp>> cards;
};
struct RcvScreen {
    uint32_t config = 0;
    std::vector<RcvPort> ports;
    std::vector<RcvOp> para;
};

inline void put16(FileBytes& b, size_t at, uint32_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
inline void put32(FileBytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// An operation list: u16 count, two bytes, the 18-byte records, then the
// data; each record's data offset counted from dataBase bytes before the
// list (the port's first card block for card lists).
inline FileBytes opList(const std::vector<RcvOp>& ops, uint32_t dataBase = 0, size_t dataAt = 0)
{
    FileBytes b(4 + 18 * ops.size(), 0);
    put16(b, 0, uint32_t(ops.size()));
    size_t data = dataAt ? dataAt : b.size();
    for (size_t k = 0; k < ops.size(); ++k) {
        const size_t r = 4 + 18 * k;
        put32(b, r, uint32_t(dataBase + data));
        put32(b, r + 4, uint32_t(ops[k].data.size()));
        put32(b, r + 8, ops[k].targetAddr);
        put32(b, r + 12, ops[k].timeticks);
        b[r + 16] = ops[k].type;
        b[r + 17] = ops[k].target;
        data += ops[k].data.size();
    }
    return b;
}

inline FileBytes scanFile(const std::vector<RcvOp>& ops)
{
    FileBytes b(16, 0xEE);
    const FileBytes list = opList(ops);
    b.insert(b.end(), list.begin(), list.end());
    for (const RcvOp& op : ops)
        b.insert(b.end(), op.data.begin(), op.data.end());
    return b;
}

// A scan-parameter file of n RAM writes to address without waits, each of
// the same block of data (stored once).
inline FileBytes sameBlockScanFile(size_t n, uint32_t address, const FileBytes& block)
{
    FileBytes b = scanFile(std::vector<RcvOp>(n, RcvOp{1, 1, address, 0, {}}));
    for (size_t k = 0; k < n; ++k) {
        put32(b, 16 + 4 + 18 * k, uint32_t(4 + 18 * n));
        put32(b, 16 + 8 + 18 * k, uint32_t(block.size()));
    }
    b.insert(b.end(), block.begin(), block.end());
    return b;
}

// A pack with its sub-files in the given order of types (10, 11, 12).
inline FileBytes recoveryPack(const std::vector<RcvScreen>& screens, std::vector<uint8_t> order = {10, 11, 12})
{
    // Type 11: 16-byte head, then one port table per screen.
    FileBytes xy(16, 0x11);
    FileBytes para;
    std::vector<uint32_t> xyOffset, paraOffset;
    for (const RcvScreen& s : screens) {
        xyOffset.push_back(uint32_t(xy.size()));
        FileBytes table(4 + 12 * s.ports.size(), 0);
        put16(table, 0, uint32_t(s.ports.size()));
        FileBytes body;
        for (size_t i = 0; i < s.ports.size(); ++i) {
            const RcvPort& p = s.ports[i];
            const uint32_t first = uint32_t(table.size() + body.size());
            // Blocks first, then every card's data behind them.
            size_t blocksLen = 0;
            for (const auto& c : p.cards)
                blocksLen += 4 + 18 * c.size();
            FileBytes blocks, data;
            for (const auto& c : p.cards) {
                // Data offsets count from the port's first block.
                FileBytes fixed = opList(c);
                for (size_t k = 0; k < c.size(); ++k) {
                    uint32_t off = uint32_t(blocksLen + data.size());
                    for (size_t q = 0; q < k; ++q)
                        off += uint32_t(c[q].data.size());
                    put32(fixed, 4 + 18 * k, off);
                }
                blocks.insert(blocks.end(), fixed.begin(), fixed.end());
                for (const RcvOp& op : c)
                    data.insert(data.end(), op.data.begin(), op.data.end());
            }
            put16(table, 4 + 12 * i, p.ledx);
            put16(table, 6 + 12 * i, uint32_t(p.cards.size()));
            put32(table, 8 + 12 * i, first);
            put32(table, 12 + 12 * i, uint32_t(blocks.size() + data.size()));
            body.insert(body.end(), blocks.begin(), blocks.end());
            body.insert(body.end(), data.begin(), data.end());
        }
        xy.insert(xy.end(), table.begin(), table.end());
        xy.insert(xy.end(), body.begin(), body.end());

        paraOffset.push_back(uint32_t(para.size()));
        const FileBytes l = opList(s.para);
        para.insert(para.end(), l.begin(), l.end());
        for (const RcvOp& op : s.para)
            para.insert(para.end(), op.data.begin(), op.data.end());
    }
    FileBytes screen(32 + 52 * screens.size(), 0);
    screen[2] = 1;
    put32(screen, 4, uint32_t(para.size()));
    put32(screen, 12, uint32_t(xy.size()));
    screen[20] = uint8_t(screens.size());
    for (size_t i = 0; i < screens.size(); ++i) {
        const size_t r = 32 + 52 * i;
        put32(screen, r, screens[i].config);
        put32(screen, r + 36, paraOffset[i]);
        put32(screen, r + 40, uint32_t(4 + 18 * screens[i].para.size()));
        put32(screen, r + 44, xyOffset[i]);
        put32(screen, r + 48, uint32_t(screens[i].ports.empty() ? 0 : 4));
    }
    FileBytes out(4 + 12 * order.size(), 0);
    out[0] = 'R';
    out[1] = 'C';
    out[2] = 'V';
    out[3] = uint8_t(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        const FileBytes& sub = order[i] == 10 ? screen : order[i] == 11 ? xy : para;
        out[4 + 12 * i] = order[i];
        put32(out, 8 + 12 * i, uint32_t(sub.size()));
        put32(out, 12 + 12 * i, uint32_t(out.size()));
        out.insert(out.end(), sub.begin(), sub.end());
    }
    return out;
}
