#include "mode_sequence.h"

#include <QtTest>

namespace mode_sequence
{
Bytes PcSteps::read(int c, u32 at, int length)
{
    const Bytes r = ask_box(c, read_image(at, length));
    return r.size() == size_t(length) + 1 && r[0] == 0 ? Bytes(r.begin() + 1, r.end()) : Bytes();
}

bool PcSteps::ok(int c, const Bytes& req)
{
    const Bytes r = ask_box(c, req);
    return !r.empty() && r[0] == 0;
}

void PcSteps::write(int c, const ModeWrite& w)
{
    QVERIFY2(ok(c, write_image(w.offset, w.data)), qPrintable(where + ": an image write"));
    m.image_write(w.offset, w.data);
}

void PcSteps::apply(int c)
{
    QVERIFY2(ok(c, kApply), qPrintable(where + ": register 11"));
    m.apply();
}

bool PcSteps::words_read(int c, Bytes* seen)
{
    *seen = read(c, Img::kCurrentMode, 4);
    const Bytes expected = {u8(m.mode), u8(m.mode >> 8), u8(m.to_save), u8(m.to_save >> 8)};
    return *seen == expected;
}

// A second client's save of s beside the first's recall of r, their
// requests interleaved at random; the second client writes word 868 alone
// or the two words as it read them.
void PcSteps::two_clients(Run& run, int s)
{
    const int r = run.pick(kUserModeCount);
    const bool asRead = run.pick(2);
    const int aSteps = 2, bSteps = asRead ? 3 : 2;
    int a = 0, b = 0;
    Bytes seen;
    while (a < aSteps || b < bSteps) {
        if (b == bSteps || (a < aSteps && run.pick(2))) {
            if (a++ == 0)
                write(0, recall_words(r));
            else
                apply(0);
        } else if (b++ == 0 && asRead) {
            QVERIFY2(words_read(1, &seen), qPrintable(where + ": the mode words the second client reads"));
        } else if (b == bSteps) {
            apply(1);
        } else {
            write(1, asRead ? save_as_read(seen, s) : save_alone(s));
        }
        if (QTest::currentTestFailed())
            return;
    }
}

// The PC reads the whole image, changes the brightness and writes it all
// back, the mode words with it as they were.
void PcSteps::whole_image(u8 value)
{
    Bytes image;
    for (u32 at = 0; at < Img::kSize; at += 1024) {
        const Bytes part = read(0, at, 1024);
        QVERIFY2(part.size() == 1024, qPrintable(where + ": the image read"));
        image.insert(image.end(), part.begin(), part.end());
    }
    image[Img::kBrightness] = value;
    image[Img::kBrightness + 1] = 0;
    for (u32 at = 0; at < Img::kSize; at += 1024)
        write(0, {at, Bytes(image.begin() + at, image.begin() + at + 1024)});
    apply(0);
}

bool PcSteps::pc_step(Run& run, Step step, int s)
{
    switch (step) {
    case Change:
        write(0, {u32(Img::kBrightness), {u8(run.pick(101)), 0}});
        apply(0);
        return true;
    case SingleChange: {
        const u8 v = u8(run.pick(101));
        if (ok(0, single(6, v)))
            m.brightness(v);
        else
            QTest::qFail(qPrintable(where + ": the single setting"), __FILE__, __LINE__);
        return true;
    }
    case Save:
        write(0, save_block(s));
        apply(0);
        return true;
    case SaveAlone:
        write(0, save_alone(s));
        apply(0);
        return true;
    case SaveAsRead: {
        Bytes seen;
        if (!words_read(0, &seen)) {
            QTest::qFail(qPrintable(where + ": the mode words the PC reads"), __FILE__, __LINE__);
            return true;
        }
        write(0, save_as_read(seen, s));
        apply(0);
        return true;
    }
    case Recall:
        write(0, recall_words(s));
        apply(0);
        return true;
    case SingleRecall:
        if (ok(0, single_recall(s)))
            m.recall(s);
        else
            QTest::qFail(qPrintable(where + ": the single-setting recall"), __FILE__, __LINE__);
        return true;
    case WholeImage:
        whole_image(u8(run.pick(101)));
        return true;
    case TwoClients:
        two_clients(run, s);
        return true;
    case Upload:
    case Empty: {
        FileBytes mode;
        if (step == Upload) {
            mode = m.screen;
            (*mode)[Model::at(Img::kBrightness)] = u8(run.pick(101));
        }
        if (ok(0, upload(s, mode)))
            m.upload(s, mode);
        else
            QTest::qFail(qPrintable(where + ": the upload"), __FILE__, __LINE__);
        return true;
    }
    default:
        return false;
    }
}
namespace
{
// A slot's content as a failure names it.
QString shown(const FileBytes& f)
{
    return f ? QString("a mode of brightness %1").arg((*f)[Model::at(Img::kBrightness)]) : QString("empty");
}
QString expected(const SlotFile& f)
{
    if (f.eventual)
        return shown(*f.eventual);
    QStringList may;
    for (const FileBytes& p : f.possible)
        may.append(shown(p));
    return "one of what its file may hold: " + may.join(", ");
}
} // namespace

void PcSteps::request_before_stop(Run& run, int s)
{
    const Step requests[] = {Change,       Change,     SingleChange, Save,   SaveAlone, SaveAsRead, Recall,
                             SingleRecall, WholeImage, TwoClients,   Upload, Empty,     Rewrite,    Reset};
    const Step request = requests[run.pick(int(std::size(requests)))];
    where += QString(", right after a request (%1)").arg(step_name(request));
    if (request == Rewrite) {
        QVERIFY2(ok(0, kRewrite), qPrintable(where + ": the rewrite"));
        m.rewrite();
    } else if (request == Reset) {
        QVERIFY2(ok(0, kFactoryReset), qPrintable(where + ": the factory reset"));
        m.factory_reset();
    } else {
        pc_step(run, request, s);
    }
}

QStringList PcSteps::lost_at_start(const Mode& screen, const Bytes& words,
                                   const std::array<FileBytes, kUserModeCount>& found)
{
    QStringList lost;
    const int differs = first_difference(screen, m.screen);
    if (differs >= 0 && screen.size() == m.screen.size())
        lost.append(QString("image byte %1 reads %2, answered %3")
                        .arg(differs)
                        .arg(screen[Model::at(differs)])
                        .arg(m.screen[Model::at(differs)]));
    else if (differs >= 0)
        lost.append("the screen cannot be read");
    if (words.size() != 4 || u16(words[0] | words[1] << 8) != m.mode)
        lost.append(QString("word 866 reads %1, answered %2")
                        .arg(words.size() == 4 ? words[0] | words[1] << 8 : -1)
                        .arg(m.mode));
    for (int k = 0; k < kUserModeCount; ++k) {
        const SlotFile& f = m.files[k];
        const auto& possible = f.possible;
        if (f.eventual ? found[k] != *f.eventual
                       : std::find(possible.begin(), possible.end(), found[k]) == possible.end())
            lost.append(QString("slot %1 is %2, answered %3").arg(k + 1).arg(shown(found[k])).arg(expected(f)) +
                        (f.eventual && found[k] && *f.eventual
                             ? QString(" (they differ at image byte %1)").arg(first_difference(*found[k], **f.eventual))
                             : QString()));
    }
    m.restarted(m.mode);
    for (int k = 0; k < kUserModeCount; ++k) {
        m.stored[k] = found[k];
        m.files[k].found(found[k]);
    }
    return lost;
}

} // namespace mode_sequence
