// The Intel HEX reader against independent converters: every byte that srec_cat and objcopy put
// into a flat binary must come out of the reader at the same address, and nothing else.

#include "image/hexfiles.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <random>

namespace {

constexpr std::uint16_t kBlockMax = 200;
constexpr int kToolTimeoutMs = 60000;

struct TPeer {
    const char* Program;
    QStringList (*Arguments)(const QString& hex, const QString& bin);
    bool StartsAtZero; // otherwise the output starts at the lowest address
};

const TPeer kPeers[] = {
    {"srec_cat",
     [](const QString& hex, const QString& bin) {
         return QStringList{hex, "-Intel", "-o", bin, "-Binary"};
     },
     true},
    {"objcopy",
     [](const QString& hex, const QString& bin) {
         return QStringList{"-I", "ihex", "-O", "binary", hex, bin};
     },
     false},
};

// A flat picture of the image with zero-filled gaps, as the converters produce it.
struct TFlatImage {
    std::uint32_t Lowest = 0xFFFFFFFFu;
    QByteArray Bytes; // from address 0
};

} // namespace

class TTestHexFilesPeer : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FDir;

    // Random runs of random data with random gaps, written through the writer under test in
    // records of random size, with a start record and an end record added by hand.
    static bool WriteRandomImage(const QString& path, std::uint32_t seed) {
        std::mt19937 random(seed);
        TIntelExtendedHexFile writer;
        if (writer.Open(path, hmWrite, true) != hrOK)
            return false;
        std::uint32_t address = std::uniform_int_distribution<std::uint32_t>(0, 0x2FFFF)(random);
        const int runs = std::uniform_int_distribution<int>(1, 10)(random);
        for (int run = 0; run < runs && address < 0xE0000; ++run) {
            int runLength = std::uniform_int_distribution<int>(1, 5000)(random);
            while (runLength > 0) {
                std::uint8_t chunk[93];
                const int size = std::min(runLength, std::uniform_int_distribution<int>(1, 93)(random));
                for (int i = 0; i < size; ++i)
                    chunk[i] = std::uint8_t(random());
                if (writer.WriteBlock(address, chunk, std::uint16_t(size)) != hrOK)
                    return false;
                address += size;
                runLength -= size;
            }
            address += std::uniform_int_distribution<std::uint32_t>(1, 0x14000)(random);
        }
        if (writer.Close() != hrOK)
            return false;
        QFile file(path);
        return file.open(QIODevice::Append) && file.write(":0400000300001000E9\n:00000001FF\n") > 0;
    }

    static bool ReadImage(const QString& path, TFlatImage& image) {
        TIntelExtendedHexFile reader;
        if (reader.Open(path, hmVerify, false) != hrOK)
            return false;
        for (;;) {
            std::uint8_t buffer[kBlockMax];
            std::uint32_t address = 0;
            std::uint16_t length = 0;
            const THexResult result = reader.ReadBlock(address, buffer, length, kBlockMax);
            if (result == hrEndOfFile)
                return reader.Position() == reader.TotalSize();
            if (result != hrOK)
                return false;
            if (length == 0)
                continue;
            image.Lowest = std::min(image.Lowest, address);
            if (image.Bytes.size() < qsizetype(address + length))
                image.Bytes.resize(address + length, '\0');
            std::memcpy(image.Bytes.data() + address, buffer, length);
        }
    }

    QByteArray Convert(const TPeer& peer, const QString& hex) {
        const QString bin = hex + '.' + peer.Program + ".bin";
        QProcess tool;
        tool.start(QStandardPaths::findExecutable(peer.Program), peer.Arguments(hex, bin));
        if (!tool.waitForFinished(kToolTimeoutMs) || tool.exitStatus() != QProcess::NormalExit ||
            tool.exitCode() != 0) {
            qWarning("%s failed: %s", peer.Program, tool.readAllStandardError().constData());
            return "conversion failed";
        }
        QFile file(bin);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("no output");
    }

private slots:
    void initTestCase() { QVERIFY(FDir.isValid()); }

    void sameBytesAsPeers_data() {
        QTest::addColumn<int>("peer");
        QTest::addColumn<quint32>("seed");
        for (int peer = 0; peer < int(std::size(kPeers)); ++peer)
            for (quint32 seed : {1u, 2u, 3u, 4u, 5u, 6u})
                QTest::addRow("%s seed %u", kPeers[peer].Program, seed) << peer << seed;
    }

    void sameBytesAsPeers() {
        QFETCH(int, peer);
        QFETCH(quint32, seed);
        const TPeer& tool = kPeers[peer];
        if (QStandardPaths::findExecutable(tool.Program).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(tool.Program)));

        const QString hex = FDir.filePath(QStringLiteral("image%1.hex").arg(seed));
        if (!QFile::exists(hex))
            QVERIFY(WriteRandomImage(hex, seed));
        TFlatImage image;
        QVERIFY(ReadImage(hex, image));
        QVERIFY(!image.Bytes.isEmpty());

        const QByteArray expected = tool.StartsAtZero ? image.Bytes : image.Bytes.mid(image.Lowest);
        const QByteArray converted = Convert(tool, hex);
        QCOMPARE(converted.size(), expected.size());
        // Name the first differing address rather than dumping a megabyte.
        for (qsizetype i = 0; i < expected.size(); ++i)
            if (converted[i] != expected[i])
                QFAIL(qPrintable(QStringLiteral("first difference at 0x%1")
                                     .arg(i + (tool.StartsAtZero ? 0 : image.Lowest), 0, 16)));
    }

    void offsetsDoNotWrap() {
        // A record running past offset 0xFFFF continues above the segment, as objcopy reads it.
        if (QStandardPaths::findExecutable(QStringLiteral("objcopy")).isEmpty())
            QSKIP("objcopy is not installed");
        const QString hex = FDir.filePath(QStringLiteral("straddle.hex"));
        QFile file(hex);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(":020000021000EC\n:10FFF8000102030405060708090A0B0C0D0E0F1071\n:00000001FF\n");
        file.close();
        TFlatImage image;
        QVERIFY(ReadImage(hex, image));
        QCOMPARE(image.Lowest, 0x1FFF8u);
        QCOMPARE(Convert(kPeers[1], hex), image.Bytes.mid(image.Lowest));
    }
};

QTEST_GUILESS_MAIN(TTestHexFilesPeer)
#include "tst_hexfiles_peer.moc"
