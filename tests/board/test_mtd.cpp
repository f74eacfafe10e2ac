// MTD erase and write helpers over the simulated NAND partitions.
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "board/board.h"
#include "core/utils.h"
#include "sim_fixture.h"

class TestMtd : public QObject
{
    Q_OBJECT
    SimFixture sim_;

    std::vector<u8> readBack(uint32_t off, uint32_t len)
    {
        std::vector<u8> b(len);
        int fd = ::open(sim_.host("/dev/mtd8").c_str(), O_RDONLY);
        if (fd < 0 || ::pread(fd, b.data(), len, off) != long(len))
            b.clear();
        if (fd >= 0)
            ::close(fd);
        return b;
    }

  private slots:
    void eraseThenWriteInPieces()
    {
        board::Mtd& mtd = board::current().mtd();
        int fd = mtd.open("/dev/mtd8");
        QVERIFY(fd >= 0);
        std::vector<u8> data(5000);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = u8(i);
        QCOMPARE(Utils::non_region_erase(fd, 0, int(data.size()), 1), 0);
        QCOMPARE(Utils::non_region_write(fd, data.data(), int(data.size()), 0), 0);
        QVERIFY(readBack(0, 5000) == data);
        std::vector<u8> back(5000);
        QCOMPARE(mtd.pread(fd, back.data(), 5000, 0), 5000L);
        QVERIFY(back == data);
        QCOMPARE(mtd.pread(fd, back.data(), 16, 0x800000 - 8), -1L);
        // Programming without an erase can only clear bits.
        std::vector<u8> ones(16, 0xFF);
        QCOMPARE(Utils::non_region_write(fd, ones.data(), 16, 0), 0);
        QCOMPARE(int(readBack(1, 1)[0]), 1);
        // After an erase the block reads 0xFF again.
        QCOMPARE(Utils::non_region_erase(fd, 0, 1, 0), 0);
        QCOMPARE(int(readBack(4999, 1)[0]), 0xFF);
        mtd.close(fd);
    }

    void failuresAreReported()
    {
        board::Mtd& mtd = board::current().mtd();
        int fd = mtd.open("/dev/mtd10");
        QVERIFY(fd >= 0);
        std::vector<u8> data(16, 0);
        // Past the partition's end.
        QCOMPARE(Utils::non_region_write(fd, data.data(), 16, 0x800000 - 8), 1);
        // An erase that fails closes the descriptor.
        QCOMPARE(Utils::non_region_erase(fd, 0x800000, 1, 0), 8);
        QVERIFY(::fcntl(fd, F_GETFD) == -1);
        QCOMPARE(Utils::non_region_erase(-1, 0, 1, 0), 8);
        QCOMPARE(Utils::non_region_write(-1, data.data(), 16, 0), 1);
    }
};

QTEST_GUILESS_MAIN(TestMtd)
#include "test_mtd.moc"
