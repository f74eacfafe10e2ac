// The frame codec and the frame assembler, against the wire examples of the
// PC protocol.
#include <QtTest>

#include <random>
#include <vector>

#include "core/utils.h"
#include "link/protocol_phy.h"

using Bytes = std::vector<u8>;

namespace
{
Bytes escape(const Bytes& body)
{
    Bytes out(size_t(protocol_phy::escaped_capacity(int(body.size()))));
    u8 flag = 7;
    int n = protocol_phy::data_re_transf_meaning(out.data(), body.data(), int(body.size()), &flag, int(out.size()));
    out.resize(size_t(n));
    return out;
}

Bytes unescape(const Bytes& wire, u8* end)
{
    Bytes out(wire.size() + 1);
    int n = protocol_phy::data_transf_meaning(wire.data(), out.data(), int(wire.size()), end, int(out.size()));
    out.resize(size_t(n));
    return out;
}

// A request body with its BCC.
Bytes frameBody(u16 dest, u16 src, u8 group, const Bytes& rest)
{
    Bytes b;
    b.reserve(11 + rest.size());
    for (u8 x :
         {u8(dest), u8(dest >> 8), u8(src), u8(src >> 8), u8(0x11), u8(0x22), u8(0x33), u8(0x44), u8(0x55), group})
        b.push_back(x);
    for (u8 x : rest)
        b.push_back(x);
    b.push_back(Utils::BCC(b.data(), unsigned(b.size())));
    return b;
}
} // namespace

class TestProtocolPhy : public QObject
{
    Q_OBJECT
  private slots:
    void escapesEverySpecialByte()
    {
        Bytes wire = escape({0x01, 0x02, 0xA5, 0xA6, 0x5A, 0x5B});
        QCOMPARE(wire, (Bytes{0xA5, 0xA5, 0xA5, 0x01, 0x02, 0xA6, 0x02, 0xA6, 0x01, 0x5B, 0x02, 0x5B, 0x01, 0x5A}));
    }

    void emptyBodyIsFourBytes() { QCOMPARE(escape({}), (Bytes{0xA5, 0xA5, 0xA5, 0x5A})); }

    void escapeRefusesShortOutput()
    {
        Bytes body = {0xA5, 0xA5};
        u8 out[7];
        QCOMPARE(protocol_phy::data_re_transf_meaning(out, body.data(), 2, nullptr, 7), 0);
        u8 big[8];
        QCOMPARE(protocol_phy::data_re_transf_meaning(big, body.data(), 2, nullptr, 8), 8);
    }

    void roundTripOfAllByteValues()
    {
        Bytes body;
        for (int i = 0; i < 256; ++i)
            body.push_back(u8(i));
        u8 end = 0;
        QCOMPARE(unescape(escape(body), &end), body);
        QCOMPARE(end, u8(1));
    }

    void repeatedStartBytesYieldBodyOnce()
    {
        u8 end = 0;
        Bytes got = unescape({0xA5, 0xA5, 0xA5, 0x10, 0xA6, 0x02, 0x20, 0x5A}, &end);
        QCOMPARE(got, (Bytes{0x10, 0xA5, 0x20}));
        QCOMPARE(end, u8(1));
    }

    void strayEscapeDropsItselfOnly()
    {
        u8 end = 0;
        QCOMPARE(unescape({0xA5, 0xA6, 0x03, 0x5A}, &end), (Bytes{0x03}));
        QCOMPARE(unescape({0xA5, 0xA6, 0xA6, 0x01, 0x5A}, &end), (Bytes{0xA6}));
        QCOMPARE(unescape({0xA5, 0x5B, 0x5B, 0x02, 0x5A}, &end), (Bytes{0x5A}));
    }

    void startByteRestartsHalfFrame()
    {
        u8 end = 0;
        QCOMPARE(unescape({0xA5, 0x01, 0x02, 0x03, 0xA5, 0x07, 0x5A}, &end), (Bytes{0x07}));
        QCOMPARE(end, u8(1));
    }

    void bytesOutsideFrameIgnored()
    {
        u8 end = 0;
        QCOMPARE(unescape({0x5A, 0x33, 0xA5, 0x07, 0x5A, 0x44, 0x45}, &end), (Bytes{0x07}));
        QCOMPARE(end, u8(1));
        unescape({0x01, 0x02, 0xA5, 0x07}, &end);
        QCOMPARE(end, u8(0));
    }

    void unescapeNeverPassesOutput()
    {
        Bytes wire = {0xA5, 1, 2, 3, 4, 5, 6, 0x5A};
        u8 out[4] = {0, 0, 0, 0};
        u8 end = 0;
        int n = protocol_phy::data_transf_meaning(wire.data(), out, int(wire.size()), &end, 4);
        QVERIFY(n <= 4);
        QVERIFY(n == 0 || end == 0);
    }

    void swapExchangesAddresses()
    {
        Bytes b = {0x00, 0xF1, 0x10, 0xF0};
        protocol_phy::swap_phy_head(b.data());
        QCOMPARE(b, (Bytes{0x10, 0xF0, 0x00, 0xF1}));
    }

    void addressRules()
    {
        QVERIFY(protocol_phy::is_box(0xF100));
        QVERIFY(protocol_phy::is_box(0xF101));
        QVERIFY(!protocol_phy::is_box(0xF102));
        QVERIFY(!protocol_phy::is_box(0xF0FF));
        QVERIFY(!protocol_phy::is_box(0x0001));
        Bytes toCard = frameBody(0x0001, 0xF010, 0x60, {0});
        QVERIFY(protocol_phy::is_pass_through(toCard.data()));
        Bytes fromOther = frameBody(0x0001, 0xF011, 0x60, {0});
        QVERIFY(!protocol_phy::is_pass_through(fromOther.data()));
        Bytes toFpga = frameBody(0xF000, 0xF010, 0x60, {0});
        QVERIFY(!protocol_phy::is_pass_through(toFpga.data()));
    }

    void acceptChecksBccAndLength()
    {
        std::vector<u8> work(pc::kWorkSize, 0xEE);
        Bytes body = frameBody(0xF100, 0xF010, 0xA1, {0x07, 0xFF, 0x00, 0x00});
        Bytes wire = escape(body);
        int len = protocol_phy::accept_frame(wire.data(), int(wire.size()), work.data(), int(work.size()));
        QCOMPARE(len, int(body.size()) - 1);
        // The body with its BCC, for a pass-through hand-over.
        QVERIFY(std::equal(body.begin(), body.end(), work.begin()));
        // Past it the buffer is clean, whatever was there before.
        for (int i = len + 1; i < pc::kWorkSize; ++i)
            QCOMPARE(work[size_t(i)], u8(0));

        Bytes bad = body;
        bad.back() ^= 0x01;
        Bytes badWire = escape(bad);
        QCOMPARE(protocol_phy::accept_frame(badWire.data(), int(badWire.size()), work.data(), int(work.size())), -1);

        Bytes noEnd = wire;
        noEnd.pop_back();
        QCOMPARE(protocol_phy::accept_frame(noEnd.data(), int(noEnd.size()), work.data(), int(work.size())), -1);
    }

    void shortBodiesDropped()
    {
        std::vector<u8> work(pc::kWorkSize);
        // Nine bytes and a good BCC: no command in it.
        Bytes nine = {0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0};
        nine.push_back(Utils::BCC(nine.data(), 9));
        Bytes w9 = escape(nine);
        QCOMPARE(protocol_phy::accept_frame(w9.data(), int(w9.size()), work.data(), int(work.size())), -1);
        Bytes ten = {0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0, 0xA1};
        ten.push_back(Utils::BCC(ten.data(), 10));
        Bytes w10 = escape(ten);
        QCOMPARE(protocol_phy::accept_frame(w10.data(), int(w10.size()), work.data(), int(work.size())), 10);
        // Two bytes (a BCC of one byte) are a frame of no command either.
        Bytes two = {0xA5, 0x07, 0x07, 0x5A};
        QCOMPARE(protocol_phy::accept_frame(two.data(), 4, work.data(), int(work.size())), -1);
    }

    void escapedBccAccepted()
    {
        // Choose the last data byte so the BCC itself is 0xA5 and travels escaped.
        Bytes b = {0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0, 0xA1, 0x07};
        u8 x = Utils::BCC(b.data(), unsigned(b.size()));
        b.push_back(u8(x ^ 0xA5));
        b.push_back(0xA5);
        Bytes wire = escape(b);
        QVERIFY(wire.size() > b.size() + 4);
        std::vector<u8> work(pc::kWorkSize);
        QCOMPARE(protocol_phy::accept_frame(wire.data(), int(wire.size()), work.data(), int(work.size())),
                 int(b.size()) - 1);
    }

    void replyOfOneByteIsTwelveBytes()
    {
        std::vector<u8> work(pc::kWorkSize);
        Bytes body = frameBody(0xF100, 0xF010, 0xA0, {0x14, 0xFF, 0x00, 0x01});
        std::copy(body.begin(), body.end(), work.begin());
        work[10] = 0x01;
        std::vector<u8> out(pc::kWireSize);
        int n = protocol_phy::build_reply(work.data(), int(work.size()), 1, out.data(), int(out.size()));
        u8 end = 0;
        Bytes got = unescape(Bytes(out.begin(), out.begin() + n), &end);
        QCOMPARE(end, u8(1));
        Bytes expect = {0x10, 0xF0, 0x00, 0xF1, 0x11, 0x22, 0x33, 0x44, 0x55, 0xA0, 0x01};
        expect.push_back(Utils::BCC(expect.data(), 11));
        QCOMPARE(got, expect);
        QCOMPARE(out[0], u8(0xA5));
        QCOMPARE(out[1], u8(0xA5));
        QCOMPARE(out[2], u8(0xA5));
    }

    void largestReadReplyFits()
    {
        std::vector<u8> work(pc::kWorkSize, 0xA5);
        std::vector<u8> out(pc::kWireSize);
        int n = protocol_phy::build_reply(work.data(), int(work.size()), 65536, out.data(), int(out.size()));
        QCOMPARE(n, 3 + 2 * (pc::kMaxReplyBody - 1) + (work[pc::kMaxReplyBody - 1] == 0xA5 ? 2 : 1) + 1);
        QCOMPARE(protocol_phy::build_reply(work.data(), int(work.size()), pc::kWorkSize, out.data(), int(out.size())),
                 0);
    }

    void assemblerCutsFramesFromNoise()
    {
        frame_assembler fa(64);
        std::vector<Bytes> got;
        auto sink = [&](const u8* f, int n) { got.emplace_back(f, f + n); };
        Bytes stream = {0x01, 0x5A, 0xA5, 0xA5, 0xA5, 0x10, 0x20, 0x5A, 0x33, 0xA5, 0x40};
        fa.feed(stream.data(), stream.size(), sink);
        QCOMPARE(got.size(), size_t(1));
        QCOMPARE(got[0], (Bytes{0xA5, 0x10, 0x20, 0x5A}));
        QVERIFY(fa.collecting());
        Bytes rest = {0x41, 0x5A};
        fa.feed(rest.data(), rest.size(), sink);
        QCOMPARE(got.size(), size_t(2));
        QCOMPARE(got[1], (Bytes{0xA5, 0x40, 0x41, 0x5A}));
    }

    void assemblerResyncsAfterOverlong()
    {
        frame_assembler fa(8);
        std::vector<Bytes> got;
        auto sink = [&](const u8* f, int n) { got.emplace_back(f, f + n); };
        Bytes stream = {0xA5, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x5A, 0xA5, 1, 0x5A};
        fa.feed(stream.data(), stream.size(), sink);
        QCOMPARE(got.size(), size_t(1));
        QCOMPARE(got[0], (Bytes{0xA5, 1, 0x5A}));
        QCOMPARE(fa.overlong(), 1u);
        // A frame of exactly the limit is kept.
        Bytes exact = {0xA5, 1, 2, 3, 4, 5, 6, 0x5A};
        fa.feed(exact.data(), exact.size(), sink);
        QCOMPARE(got.size(), size_t(2));
    }

    // Frames, noise, restarts and overlong frames in pieces of every size
    // give what the byte rule gives: a start byte restarts, a byte past the
    // limit drops the frame until the next start.
    void assemblerPiecesMatchTheByteRule()
    {
        const size_t limit = 24;
        std::mt19937 random(5);
        const u8 alphabet[] = {0xA5, 0x5A, 0x00, 0x11, 0xA6, 0x5B};
        Bytes stream(4000);
        for (u8& b : stream)
            b = random() % 4 ? u8(random()) : alphabet[random() % 6];
        std::vector<Bytes> expected;
        Bytes frame;
        bool open = false;
        for (u8 b : stream) {
            if (b == 0xA5) {
                frame = {b};
                open = true;
            } else if (open && frame.size() >= limit) {
                open = false;
            } else if (open) {
                frame.push_back(b);
                if (b == 0x5A) {
                    expected.push_back(frame);
                    open = false;
                }
            }
        }
        for (size_t piece : {size_t(1), size_t(2), size_t(7), size_t(23), size_t(64), stream.size()}) {
            frame_assembler fa(limit);
            std::vector<Bytes> got;
            for (size_t at = 0; at < stream.size(); at += piece)
                fa.feed(stream.data() + at, std::min(piece, stream.size() - at),
                        [&](const u8* f, int n) { got.emplace_back(f, f + n); });
            QCOMPARE(got, expected);
        }
    }

    // Long bodies go through the word-at-a-time paths: every length around
    // the word and block sizes, with special bytes rare, frequent, and at
    // every position of a block, against the byte-by-byte rule.
    void longBodiesMatchTheByteRule()
    {
        std::mt19937 rng(7);
        const u8 specials[] = {0xA5, 0xA6, 0x5A, 0x5B};
        for (int density : {0, 1, 8, 64}) {
            for (int length : {15, 16, 17, 31, 32, 33, 100, 1000}) {
                std::vector<u8> body(static_cast<size_t>(length));
                for (u8& b : body)
                    b = density && int(rng() % 64) < density ? specials[rng() % 4] : u8(rng());
                std::vector<u8> expect = {0xA5, 0xA5, 0xA5};
                for (u8 b : body) {
                    if (b == 0xA5 || b == 0xA6 || b == 0x5A || b == 0x5B) {
                        expect.push_back(b == 0xA5 || b == 0xA6 ? 0xA6 : 0x5B);
                        expect.push_back(b == 0xA5 || b == 0x5A ? 0x02 : 0x01);
                    } else {
                        expect.push_back(b);
                    }
                }
                expect.push_back(0x5A);
                std::vector<u8> wire(size_t(protocol_phy::escaped_capacity(length)));
                int w =
                    protocol_phy::data_re_transf_meaning(wire.data(), body.data(), length, nullptr, int(wire.size()));
                wire.resize(size_t(w));
                QCOMPARE(wire, expect);
                // One byte short of the frame: refused, not cut.
                std::vector<u8> small(expect.size() - 1);
                QCOMPARE(
                    protocol_phy::data_re_transf_meaning(small.data(), body.data(), length, nullptr, int(small.size())),
                    0);
                std::vector<u8> back(wire.size());
                u8 end = 0;
                int n = protocol_phy::data_transf_meaning(wire.data(), back.data(), w, &end, int(back.size()));
                back.resize(size_t(n));
                QCOMPARE(end, u8(1));
                QCOMPARE(back, body);
            }
        }
    }

    // The link's work buffer is cleared only where earlier frames and
    // replies wrote; past each new body it still reads zeros.
    void workBufferHoldsNothingOfEarlierFrames()
    {
        std::vector<u8> work(4096, 0xEE);
        int dirty = int(work.size());
        const Bytes longFrame = escape(frameBody(0xF100, 0xF010, 0x61, Bytes(300, 0x77)));
        const Bytes shortFrame = escape(frameBody(0xF100, 0xF010, 0xA1, {6, 1, 0, 0}));
        std::vector<u8> out(9000);
        struct Step {
            const Bytes* frame;
            int reply; // reply length the handler writes, 0 none
        } steps[] = {{&longFrame, 0}, {&shortFrame, 2000}, {&shortFrame, 0}, {&longFrame, 10}, {&shortFrame, 0}};
        for (const Step& st : steps) {
            int len = protocol_phy::accept_frame(st.frame->data(), int(st.frame->size()), work.data(), int(work.size()),
                                                 &dirty);
            QVERIFY(len > 0);
            for (size_t i = size_t(len) + 1; i < work.size(); ++i)
                QCOMPARE(work[i], u8(0));
            if (st.reply) {
                std::fill(work.begin() + 11, work.begin() + 10 + st.reply, 0x99);
                QVERIFY(protocol_phy::build_reply(work.data(), int(work.size()), st.reply, out.data(), int(out.size()),
                                                  &dirty) > 0);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestProtocolPhy)
#include "test_protocol_phy.moc"
