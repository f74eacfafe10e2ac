// The digest of a transfer's blocks, hashed after their answers: the same as
// hashing every block at once, in the order the blocks were added.
#include <QtTest>

#include <random>
#include <vector>

#include "core/md5.h"
#include "link/block_digest.h"

class TestBlockDigest : public QObject
{
    Q_OBJECT

  private slots:
    void sameAsHashingAtOnce()
    {
        std::mt19937 random(7);
        std::vector<u8> staged(1 << 20);
        for (u8& b : staged)
            b = u8(random());
        BlockDigest digest;
        for (int round = 0; round < 3; ++round) {
            MD5 reference;
            size_t at = 0;
            while (at < staged.size()) {
                const size_t n = std::min(staged.size() - at, size_t(random() % 40000));
                // Mostly left for later, now and then at once.
                if (random() % 4)
                    digest.add_later(staged.data() + at, n);
                else
                    digest.add_now(staged.data() + at, n);
                if (random() % 3 == 0)
                    digest.settle();
                reference.update(staged.data() + at, unsigned(n));
                at += n;
            }
            const u8* got = digest.digest();
            QVERIFY(got);
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(got), 16),
                     QByteArray(reinterpret_cast<const char*>(reference.digest()), 16));
            digest.reset();
        }
        MD5 empty;
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(digest.digest()), 16),
                 QByteArray(reinterpret_cast<const char*>(empty.digest()), 16));
    }
};

QTEST_GUILESS_MAIN(TestBlockDigest)
#include "test_block_digest.moc"
