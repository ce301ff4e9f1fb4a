// Image readers and writers: record validation, block delivery, size measure, result codes, the
// writers' exact output and the error box.

#include "dialogs/hexfiles_box.h"
#include "dialogs/velummessagebox.h"
#include "image/hexfiles.h"
#include "image/imagesnapshot.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <map>
#include <random>
#include <vector>

namespace {

constexpr std::uint16_t kBlockMax = 200;
constexpr std::uint32_t kAllOnes = 0xFFFFFFFFu;
// A reader that never ends its stream must fail the test, not hang it.
constexpr int kMaxReadCalls = 100000;

struct TBlock {
    THexResult Result = 0;
    std::uint32_t Address = 0;
    QByteArray Data;
};

// One record line, built independently of the writer under test.
QByteArray Record(int type, int offset, const QByteArray& data, int countOverride = -1) {
    const int count = countOverride >= 0 ? countOverride : int(data.size());
    QByteArray bytes;
    bytes.append(char(count)).append(char(offset >> 8)).append(char(offset)).append(char(type)).append(data);
    int sum = 0;
    for (char c : bytes)
        sum += quint8(c);
    bytes.append(char(-sum));
    return ':' + bytes.toHex().toUpper();
}

QByteArray Filled(int size, char first = 0) {
    QByteArray data(size, 0);
    for (int i = 0; i < size; ++i)
        data[i] = char(first + i);
    return data;
}

const QByteArray kEnd = ":00000001FF\n";

} // namespace

class TTestHexFiles : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FDir;
    int FFileNumber = 0;

    QString WriteFile(const QByteArray& content) {
        const QString path = FDir.filePath(QStringLiteral("image%1").arg(++FFileNumber));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    // Every block up to and including the first non-zero result.
    static std::vector<TBlock> ReadAll(TAbsoluteHexFile& reader, std::uint16_t maxLength = kBlockMax) {
        std::vector<TBlock> blocks;
        for (int call = 0; call < kMaxReadCalls; ++call) {
            std::uint8_t buffer[kBlockMax + 1];
            buffer[maxLength] = 0xA5;
            TBlock block;
            std::uint16_t length = 0xFFFF;
            block.Result = reader.ReadBlock(block.Address, buffer, length, maxLength);
            if (length > maxLength || buffer[maxLength] != 0xA5)
                qFatal("ReadBlock wrote past the caller's buffer");
            block.Data = QByteArray(reinterpret_cast<const char*>(buffer), length);
            blocks.push_back(block);
            if (block.Result != hrOK)
                return blocks;
        }
        qFatal("ReadBlock never ended");
    }

    // The image as address -> byte, from every delivered block.
    static std::map<std::uint32_t, std::uint8_t> Image(const std::vector<TBlock>& blocks) {
        std::map<std::uint32_t, std::uint8_t> image;
        for (const TBlock& block : blocks)
            for (int i = 0; i < block.Data.size(); ++i)
                image[block.Address + i] = quint8(block.Data[i]);
        return image;
    }

private slots:
    void initTestCase() { QVERIFY(FDir.isValid()); }

    void intelOpenResult_data();
    void intelOpenResult();
    void intelBlocks_data();
    void intelBlocks();
    void intelEndHandling();
    void intelRecordAtCallerMaximum();
    void intelSizeMeasure();
    void intelDamagedFiles();
    void binaryBlocks_data();
    void binaryBlocks();
    void binaryHeaderNeedsRoom();
    void lifecycle();
    void openProblems();
    void writeProbe();
    void messages_data();
    void messages();
    void writerExactLines();
    void writerRefusesWhatItCannotWrite();
    void intelRoundTrip();
    void binaryRoundTrip();
    void errorHook();
    void errorBox();
    void streamedFileCutBeforeTheNextPass();
};

void TTestHexFiles::intelOpenResult_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("rule"); // in the detail of a refused file

    const QByteArray data1 = ":0100000055AA\n";
    const QByteArray rec93 = Record(0, 0, Filled(93)); // 197 characters: the longest record line
    const QByteArray rec94 = Record(0, 0, Filled(94)); // 199 characters: a valid record, but too long
    QCOMPARE(rec93.size(), 197);
    QCOMPARE(rec94.size(), 199);

    QTest::newRow("empty file") << QByteArray() << 0 << QString();
    QTest::newRow("segment then data") << ":020000021000EC\n:0100000055AA\n" + kEnd << 0 << QString();
    QTest::newRow("lower case everywhere")
        << QByteArray(":020000021a00e2\n:0200ab00aabbee\n:00000001ff\n") << 0 << QString();
    QTest::newRow("CR LF line ends") << QByteArray(":020000021000EC\r\n:0100000055AA\r\n:00000001FF\r\n") << 0
                                     << QString();
    QTest::newRow("no end record, no last line end") << QByteArray(":0100000055AA") << 0 << QString();
    QTest::newRow("longest record") << rec93 + "\n" + kEnd << 0 << QString();
    QTest::newRow("longest record, CR LF") << rec93 + "\r\n" + kEnd << 0 << QString();
    QTest::newRow("199-character record")
        << rec94 + "\n" + kEnd << 6 << QStringLiteral("longer than 198 characters");
    QTest::newRow("199-character record, no line end") << rec94 << 6 << QString();
    QTest::newRow("201-character record") << Record(0, 0, Filled(95)) + "\n" + kEnd << 6 << QString();
    QTest::newRow("blank line") << data1 + "\n" + kEnd << 6 << QStringLiteral("a record starts with ':'");
    QTest::newRow("blank line first") << "\n" + data1 + kEnd << 6 << QString();
    QTest::newRow("trailing spaces") << ":0100000055AA  \n" + kEnd << 6 << QStringLiteral("not a hex digit");
    QTest::newRow("stray CR") << ":0100000055AA\r\r\n" + kEnd << 6 << QString();
    QTest::newRow("missing start code") << "0100000055AA\n" + kEnd << 6 << QString();
    QTest::newRow("not a hex digit") << ":0100000055AG\n" + kEnd << 6 << QStringLiteral("not a hex digit");
    QTest::newRow("NUL inside a line")
        << QByteArray(":00000001FF\0\n", 13) << 6 << QStringLiteral("a NUL byte in the line");
    QTest::newRow("wrong checksum") << ":0100000055AB\n" + kEnd << 6 << QStringLiteral("checksum error");
    QTest::newRow("type 04") << Record(4, 0, QByteArray("\x00\x01", 2)) + "\n" + data1 + kEnd << 6
                             << QStringLiteral("record 04 is not taken by the reader of records 00-03");
    QTest::newRow("type 05") << Record(5, 0, QByteArray(4, 0)) + "\n" + data1 + kEnd << 6 << QString();
    QTest::newRow("short line, checksum fine")
        << ":0001FF\n" + kEnd << 6 << QStringLiteral("shorter than any record");
    QTest::newRow("odd number of digits")
        << ":0100000055AA0\n" + kEnd << 6 << QStringLiteral("an odd number of digits");
    QTest::newRow("count above digits") << Record(0, 0, "\x55", 2) + "\n" + kEnd << 6
                                        << QStringLiteral("the byte count says 2, the record holds 1");
    QTest::newRow("count below digits") << Record(0, 0, "\x55\x66", 1) + "\n" + kEnd << 6 << QString();
    QTest::newRow("segment record without segment") << Record(2, 0, {}) + "\n" + kEnd << 6 << QString();
    QTest::newRow("start record without address") << Record(3, 0, "\x12\x34") + "\n" + kEnd << 6 << QString();
    // The count says how many bytes the value has: one byte would take the checksum for the rest.
    QTest::newRow("segment record of one byte")
        << QByteArray(":0100000200FD\n") + data1 + kEnd << 6
        << QStringLiteral("a record 02 must hold 2 bytes, this one holds 1");
    QTest::newRow("segment record of three bytes")
        << Record(2, 0, QByteArray(3, 0)) + "\n" + data1 + kEnd << 6 << QString();
    QTest::newRow("start record of five bytes")
        << Record(3, 0, QByteArray(5, 0)) + "\n" + data1 + kEnd << 6
        << QStringLiteral("a record 03 must hold 4 bytes, this one holds 5");
    QTest::newRow("descending") << ":01001000559A\n" + data1 + kEnd << 8
                                << QStringLiteral("address 0x0 lies below the record before");
    QTest::newRow("descending across segments")
        << ":020000021000EC\n:0100100055" + QByteArray("9A") + "\n:020000020000FC\n:01FFF00055BB\n" + kEnd
        << 8 << QString();
    // Two records for the same bytes are refused in every format: which one wins is no rule.
    QTest::newRow("same start refused")
        << ":02001000556633\n:010010007778\n" + kEnd << 8 << QStringLiteral("records overlap at 0x10");
    QTest::newRow("start inside refused")
        << ":0400100011223344" + QByteArray("42\n") + ":0100110055" + "99\n" + kEnd << 8 << QString();
    QTest::newRow("next to each other accepted")
        << ":0400100011223344" + QByteArray("42\n") + ":0100140055" + "96\n" + kEnd << 0 << QString();
    QTest::newRow("zero-length record below is still checked")
        << ":0100100055" + QByteArray("9A\n") + Record(0, 0, {}) + "\n" + kEnd << 8 << QString();
    QTest::newRow("malformed lines after the end record") << data1 + kEnd + "garbage\n\n:04\n"
                                                          << 0 << QString();
    QTest::newRow("data after the end record (files joined)")
        << data1 + kEnd + ":0100100055" + QByteArray("9A\n") + kEnd << 6
        << QStringLiteral("a data record after the end record of line 2");
    QTest::newRow("type 04 after the end record")
        << data1 + kEnd + Record(4, 0, QByteArray("\x00\x01", 2)) + "\n"
        << 0 << QString();
}

void TTestHexFiles::intelOpenResult() {
    QFETCH(QByteArray, content);
    QFETCH(int, result);
    QFETCH(QString, rule);
    TIntelExtendedHexFile reader;
    QCOMPARE(int(reader.Open(WriteFile(content), hmProgram, false)), result);
    QVERIFY2(reader.LastFailure().contains(rule), qPrintable(reader.LastFailure()));
    // A failed pre-scan leaves the file open for the caller to close.
    QVERIFY(reader.IsOpen());
    QCOMPARE(int(reader.Close()), 0);
    QVERIFY(!reader.IsOpen());
}

void TTestHexFiles::intelBlocks_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QList<quint32>>("addresses");
    QTest::addColumn<QList<QByteArray>>("data");
    QTest::addColumn<quint32>("entry");

    QTest::newRow("segment then data") << ":020000021000EC\n:0100000055AA\n" + kEnd << QList<quint32>{0x10000}
                                       << QList<QByteArray>{"\x55"} << kAllOnes;
    QTest::newRow("lower case") << QByteArray(":020000021a00e2\n:0200ab00aabbee\n:00000001ff\n")
                                << QList<quint32>{0x1A0AB} << QList<QByteArray>{"\xaa\xbb"} << kAllOnes;
    QTest::newRow("zero-length and start records consumed")
        << ":0100100055" + QByteArray("9A\n") + Record(0, 0x20, {}) + "\n" +
               Record(3, 0, QByteArray("\x12\x34\x00\x05", 4)) + "\n" + Record(0, 0x30, "\x01\x02") + "\n" +
               kEnd
        << QList<quint32>{0x10, 0x30} << QList<QByteArray>{"\x55", "\x01\x02"} << quint32(0x12345);
    QTest::newRow("offset does not wrap")
        << Record(2, 0, "\xff\xff") + "\n" + Record(0, 0xFFFF, "\x5a") + "\n" + kEnd
        << QList<quint32>{0x10FFEF} << QList<QByteArray>{"\x5a"} << kAllOnes;
    QTest::newRow("gaps kept, segment change")
        << Record(0, 0x100, "\x01") + "\n" + Record(2, 0, QByteArray("\x00\x20", 2)) + "\n" +
               Record(0, 0x0004, "\x02\x03") + "\n" + kEnd
        << QList<quint32>{0x100, 0x204} << QList<QByteArray>{"\x01", "\x02\x03"} << kAllOnes;
}

void TTestHexFiles::intelBlocks() {
    QFETCH(QByteArray, content);
    QFETCH(QList<quint32>, addresses);
    QFETCH(QList<QByteArray>, data);
    QFETCH(quint32, entry);

    TIntelExtendedHexFile reader;
    QCOMPARE(int(reader.Open(WriteFile(content), hmVerify, false)), 0);
    QCOMPARE(reader.StartAddress(), addresses.first());
    QCOMPARE(reader.EntryAddress(), entry);
    const std::vector<TBlock> blocks = ReadAll(reader);
    QCOMPARE(int(blocks.size()), int(addresses.size()) + 1);
    for (int i = 0; i < addresses.size(); ++i) {
        QCOMPARE(int(blocks[i].Result), 0);
        QCOMPARE(blocks[i].Address, addresses[i]);
        QCOMPARE(blocks[i].Data, data[i]);
    }
    QCOMPARE(int(blocks.back().Result), int(hrEndOfFile));
    QCOMPARE(blocks.back().Data.size(), 0);
}

void TTestHexFiles::intelEndHandling() {
    std::uint8_t buffer[kBlockMax];
    std::uint32_t address = 0;
    std::uint16_t length = 0;

    // Without an end record: one empty block with 0, then 5 for good.
    TIntelExtendedHexFile open;
    QCOMPARE(int(open.Open(WriteFile(":0100000055AA\n"), hmProgram, false)), 0);
    QCOMPARE(int(open.ReadBlock(address, buffer, length, kBlockMax)), 0);
    QCOMPARE(int(length), 1);
    QCOMPARE(int(open.ReadBlock(address, buffer, length, kBlockMax)), 0);
    QCOMPARE(int(length), 0);
    QCOMPARE(int(open.ReadBlock(address, buffer, length, kBlockMax)), int(hrEndOfFile));
    QCOMPARE(int(open.ReadBlock(address, buffer, length, kBlockMax)), int(hrEndOfFile));

    // The end record first: nothing at all, and no start address (a data record after it is refused:
    // intelOpenResult).
    TIntelExtendedHexFile endOnly;
    QCOMPARE(int(endOnly.Open(WriteFile(kEnd + "junk\n"), hmProgram, false)), 0);
    QCOMPARE(endOnly.TotalSize(), 0u);
    QCOMPARE(endOnly.StartAddress(), kAllOnes);
    length = 7;
    QCOMPARE(int(endOnly.ReadBlock(address, buffer, length, kBlockMax)), int(hrEndOfFile));
    QCOMPARE(int(length), 0);

    // Lines after the end record stay unread also by the operation's pass.
    TIntelExtendedHexFile after;
    QCOMPARE(int(after.Open(WriteFile(":0100000055AA\n" + kEnd + "junk\n"), hmProgram, false)), 0);
    const std::vector<TBlock> blocks = ReadAll(after);
    QCOMPARE(int(blocks.size()), 2);
    QCOMPARE(int(blocks.back().Result), int(hrEndOfFile));
}

void TTestHexFiles::intelRecordAtCallerMaximum() {
    // A byte count that reaches the maximum, equality included, is cut and reported.
    const QString path = WriteFile(Record(0, 0x40, Filled(93, 1)) + "\n" + kEnd);
    for (int maxLength : {93, 94, 10}) {
        TIntelExtendedHexFile reader;
        QCOMPARE(int(reader.Open(path, hmProgram, false)), 0);
        const std::vector<TBlock> blocks = ReadAll(reader, std::uint16_t(maxLength));
        const bool cut = maxLength <= 93;
        QCOMPARE(int(blocks.front().Result), cut ? int(hrBufferTooSmall) : 0);
        QCOMPARE(blocks.front().Data, Filled(93, 1).left(maxLength));
        QCOMPARE(blocks.front().Address, 0x40u);
    }
}

void TTestHexFiles::intelSizeMeasure() {
    // Record sizes plus the distances between start addresses: 16 + 16 + 16 + 0x10 + 0x10.
    TIntelExtendedHexFile reader;
    const QByteArray content = Record(0, 0x100, Filled(16)) + "\n" + Record(0, 0x110, Filled(16)) + "\n" +
                               Record(0, 0x120, Filled(16)) + "\n" + kEnd;
    QCOMPARE(int(reader.Open(WriteFile(content), hmProgram, false)), 0);
    QCOMPARE(reader.TotalSize(), 80u);
    QCOMPARE(reader.StartAddress(), 0x100u);
    QCOMPARE(reader.Position(), 0u);
    std::uint8_t buffer[kBlockMax];
    std::uint32_t address = 0;
    std::uint16_t length = 0;
    QList<quint32> positions;
    while (reader.ReadBlock(address, buffer, length, kBlockMax) == hrOK && length > 0)
        positions << reader.Position();
    QCOMPARE(positions, (QList<quint32>{16, 48, 80}));

    // Across a segment change and a gap the measure still ends exactly at the total.
    TIntelExtendedHexFile gaps;
    const QByteArray gapped = Record(0, 0x8000, Filled(7)) + "\n" + Record(2, 0, QByteArray("\x10\x00", 2)) +
                              "\n" + Record(0, 0x0003, Filled(40)) + "\n" + Record(0, 0x002B, Filled(2)) +
                              "\n";
    QCOMPARE(int(gaps.Open(WriteFile(gapped), hmProgram, false)), 0);
    QCOMPARE(gaps.TotalSize(), quint32(7 + (0x10003 - 0x8000) + 40 + (0x1002B - 0x10003) + 2));
    ReadAll(gaps);
    QCOMPARE(gaps.Position(), gaps.TotalSize());
}

void TTestHexFiles::intelDamagedFiles() {
    // Damage a valid image at random: Open must either refuse it, or the whole read must then end
    // normally, because every format error is found by the pre-scan.
    QByteArray valid = Record(2, 0, QByteArray("\x00\x10", 2)) + "\r\n";
    for (int i = 0; i < 12; ++i)
        valid += Record(0, 0x20 * i, Filled(1 + 7 * i, char(i))) + (i % 2 ? "\n" : "\r\n");
    valid += Record(3, 0, QByteArray(4, 1)) + "\n" + kEnd;
    const char specials[] = {'\0', '\r', '\n', ':', '0', 'F', 'f', ' '};
    std::mt19937 random(4711);
    for (int round = 0; round < 400; ++round) {
        QByteArray damaged = valid;
        const int edits = std::uniform_int_distribution<int>(1, 3)(random);
        for (int e = 0; e < edits; ++e) {
            const int at = std::uniform_int_distribution<int>(0, int(damaged.size()) - 1)(random);
            const int kind = std::uniform_int_distribution<int>(0, 2)(random);
            const char value = random() % 2 ? specials[random() % sizeof specials] : char(random());
            if (kind == 0)
                damaged[at] = value;
            else if (kind == 1)
                damaged.insert(at, value);
            else
                damaged.remove(at, 1);
        }
        TIntelExtendedHexFile reader;
        const int opened = reader.Open(WriteFile(damaged), hmProgram, false);
        if (opened != 0) {
            QVERIFY2(opened == hrIllegalRecord || opened == hrNonAscending, damaged.constData());
            continue;
        }
        QCOMPARE(int(ReadAll(reader).back().Result), int(hrEndOfFile));
        QCOMPARE(reader.Position(), reader.TotalSize());
    }
}

void TTestHexFiles::binaryBlocks_data() {
    QTest::addColumn<int>("fileSize");
    QTest::addColumn<bool>("header");
    QTest::addColumn<quint32>("start");
    QTest::addColumn<QList<int>>("lengths"); // the blocks with result 0; then 5 follows

    QTest::newRow("empty") << 0 << false << 0u << QList<int>{0};
    QTest::newRow("empty, header") << 0 << true << 0u << QList<int>{4};
    QTest::newRow("5 bytes, header") << 5 << true << 0x1000u << QList<int>{9};
    QTest::newRow("400 bytes") << 400 << false << 0u << QList<int>{200, 200, 0};
    QTest::newRow("401 bytes") << 401 << false << 0u << QList<int>{200, 200, 1};
    QTest::newRow("199 bytes") << 199 << false << 0u << QList<int>{199};
    QTest::newRow("196 bytes, header") << 196 << true << 0u << QList<int>{200, 0};
    QTest::newRow("197 bytes, header") << 197 << true << 0u << QList<int>{200, 1};
    // Multiples of the stream's buffer size: the end must not be seen early.
    QTest::newRow("8000 bytes") << 8000 << false << 0u << QList<int>(40, 200) + QList<int>{0};
    QTest::newRow("8192 bytes, header") << 8192 << true << 0x20000u << QList<int>(40, 200) + QList<int>{196};
}

void TTestHexFiles::binaryBlocks() {
    QFETCH(int, fileSize);
    QFETCH(bool, header);
    QFETCH(quint32, start);
    QFETCH(QList<int>, lengths);

    const QByteArray file = Filled(fileSize, 3);
    TBinaryDataHexFile reader(start, header);
    QCOMPARE(int(reader.Open(WriteFile(file), hmProgram, false)), 0);
    QCOMPARE(reader.TotalSize(), quint32(fileSize));
    QCOMPARE(reader.StartAddress(), start);

    const std::vector<TBlock> blocks = ReadAll(reader);
    QCOMPARE(int(blocks.size()), int(lengths.size()) + 1);
    QByteArray expected = file;
    if (header)
        expected.prepend(QByteArray(1, char(fileSize)) + char(fileSize >> 8) + char(fileSize >> 16) +
                         char(fileSize >> 24));
    QByteArray delivered;
    for (int i = 0; i < lengths.size(); ++i) {
        QCOMPARE(int(blocks[i].Result), 0);
        QCOMPARE(int(blocks[i].Data.size()), lengths[i]);
        // The blocks are contiguous: each begins where the delivered bytes end.
        QCOMPARE(blocks[i].Address, start + quint32(delivered.size()));
        delivered += blocks[i].Data;
    }
    QCOMPARE(delivered, expected);
    QCOMPARE(int(blocks.back().Result), int(hrEndOfFile));
    QCOMPARE(blocks.back().Data.size(), 0);
    QCOMPARE(reader.Position(), reader.TotalSize());
}

void TTestHexFiles::binaryHeaderNeedsRoom() {
    // With no room for file data after the header the reader would repeat the header for ever.
    TBinaryDataHexFile reader(0, true);
    QCOMPARE(int(reader.Open(WriteFile("abc"), hmProgram, false)), 0);
    QCOMPARE(int(ReadAll(reader, 4).back().Result), int(hrBufferTooSmall));
    const std::vector<TBlock> blocks = ReadAll(reader, 5);
    QCOMPARE(blocks.front().Data, QByteArray("\x03\x00\x00\x00"
                                             "a",
                                             5));
    QCOMPARE(int(blocks.back().Result), int(hrEndOfFile));
}

void TTestHexFiles::lifecycle() {
    std::uint8_t buffer[kBlockMax] = {};
    std::uint32_t address = 0;
    std::uint16_t length = 0;
    TIntelExtendedHexFile intel;
    TBinaryDataHexFile binary(0, false);
    for (TAbsoluteHexFile* file : std::initializer_list<TAbsoluteHexFile*>{&intel, &binary}) {
        QCOMPARE(int(file->ReadBlock(address, buffer, length, kBlockMax)), int(hrFileNotOpened));
        QCOMPARE(int(file->WriteBlock(0, buffer, 1)), int(hrFileNotOpened));
        QCOMPARE(int(file->Scan()), int(hrFileNotOpened));
        QCOMPARE(int(file->Close()), 0);
        // Modes other than 0, 1 and 2 open nothing.
        QCOMPARE(int(file->Open(WriteFile("x"), 7, true)), 0);
        QVERIFY(!file->IsOpen());
    }

    // A second Open is refused and leaves the read position where it was.
    const QString first = WriteFile(":0100000011EE\n:0100010022DC\n" + kEnd);
    QCOMPARE(int(intel.Open(first, hmProgram, false)), 0);
    QCOMPARE(int(intel.ReadBlock(address, buffer, length, kBlockMax)), 0);
    QCOMPARE(int(intel.Open(WriteFile(":0100500099" + QByteArray("16\n")), hmProgram, false)),
             int(hrFileAlreadyOpen));
    QCOMPARE(int(intel.ReadBlock(address, buffer, length, kBlockMax)), 0);
    QCOMPARE(address, 1u);
    QCOMPARE(int(buffer[0]), 0x22);

    // Reset closes; Close then Open reads the image again from its start.
    intel.Reset();
    QVERIFY(!intel.IsOpen());
    QCOMPARE(int(intel.Open(first, hmProgram, false)), 0);
    QCOMPARE(int(intel.ReadBlock(address, buffer, length, kBlockMax)), 0);
    QCOMPARE(address, 0u);
    QCOMPARE(int(intel.Close()), 0);

    QCOMPARE(int(binary.Open(WriteFile("abc"), hmProgram, false)), 0);
    QCOMPARE(int(binary.Open(first, hmProgram, false)), int(hrFileAlreadyOpen));
    QCOMPARE(binary.TotalSize(), 3u);
}

void TTestHexFiles::openProblems() {
    const QString missing = FDir.filePath(QStringLiteral("missing.hex"));
    TIntelExtendedHexFile intel;
    TBinaryDataHexFile binary(0, true);
    for (TAbsoluteHexFile* file : std::initializer_list<TAbsoluteHexFile*>{&intel, &binary}) {
        QCOMPARE(int(file->Open(missing, hmProgram, false)), int(hrCannotOpenFile));
        QVERIFY(!file->IsOpen());
        // A directory cannot be read twice as an image.
        QCOMPARE(int(file->Open(FDir.path(), hmVerify, false)), int(hrCannotOpenFile));
        QVERIFY(!file->IsOpen());
        QCOMPARE(int(file->Open(FDir.filePath(QStringLiteral("no/such/dir/out")), hmWrite, true)),
                 int(hrCannotOpenFile));
    }
}

void TTestHexFiles::writeProbe() {
    const QString existing = WriteFile("old");
    const QString fresh = FDir.filePath(QStringLiteral("fresh.hex"));
    TIntelExtendedHexFile intel;
    TBinaryDataHexFile binary(0, false);
    for (TAbsoluteHexFile* file : std::initializer_list<TAbsoluteHexFile*>{&intel, &binary}) {
        QCOMPARE(int(file->Open(existing, hmWrite, false)), int(hrFileAlreadyExists));
        QVERIFY(!file->IsOpen());
        QCOMPARE(int(file->Open(fresh, hmWrite, false)), 0);
        QVERIFY(!file->IsOpen());
        QVERIFY(!QFile::exists(fresh));
    }
    // Overwrite truncates.
    QCOMPARE(int(binary.Open(existing, hmWrite, true)), 0);
    QCOMPARE(int(binary.Close()), 0);
    QCOMPARE(QFileInfo(existing).size(), 0);
}

void TTestHexFiles::messages_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << QString();
    QTest::newRow("1") << 1 << "File not opened.";
    QTest::newRow("2") << 2 << "File already open";
    QTest::newRow("3") << 3 << "Cannot open file.";
    QTest::newRow("4") << 4 << "File already exist.";
    QTest::newRow("5") << 5 << "Trying to read past end of file.";
    QTest::newRow("6") << 6 << "Illegal record in file.";
    QTest::newRow("7") << 7 << "Internal error - buffer too small.";
    QTest::newRow("8") << 8 << "Illegal file - non ascending addresses.";
    QTest::newRow("9") << 9 << "Erase Sector Operation failed.";
    QTest::newRow("10") << 10 << "Image file changed while it was being sent.";
    QTest::newRow("11") << 11 << "Image runs past the highest address, 0xFFFFFFFF.";
    QTest::newRow("12") << 12 << "Image file format not recognised.";
    QTest::newRow("13") << 13 << "Image file is not what its name says.";
    QTest::newRow("42") << 42 << "Unknown error - code no. 42";
}

void TTestHexFiles::messages() {
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(HexFileErrorMessage(code), text);
}

void TTestHexFiles::writerExactLines() {
    const std::uint8_t pair[] = {0x12, 0x34};
    auto written = [&](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable");
    };

    TIntelExtendedHexFile writer;
    const QString atZero = FDir.filePath(QStringLiteral("w0.hex"));
    QCOMPARE(int(writer.Open(atZero, hmWrite, true)), 0);
    QCOMPARE(int(writer.WriteBlock(0, pair, 2)), 0);
    QCOMPARE(int(writer.Close()), 0);
    QCOMPARE(written(atZero), QByteArray(":020000001234B8\n"));

    // A jump gets a segment record; a contiguous block does not.
    const QString segmented = FDir.filePath(QStringLiteral("w1.hex"));
    QCOMPARE(int(writer.Open(segmented, hmWrite, true)), 0);
    QCOMPARE(int(writer.WriteBlock(0x12345, pair, 2)), 0);
    QCOMPARE(int(writer.WriteBlock(0x12347, pair, 1)), 0);
    QCOMPARE(int(writer.Close()), 0);
    QCOMPARE(written(segmented), QByteArray(":020000021234B6\n"
                                            ":020005001234B3\n"
                                            ":0100070012E6\n"));

    // Contiguous blocks from 0: the one that would run past offset 0xFFFF starts a new segment,
    // so that no reader has to decide whether offsets wrap.
    const QString longRun = FDir.filePath(QStringLiteral("w2.hex"));
    const QByteArray block = Filled(90, 7);
    QCOMPARE(int(writer.Open(longRun, hmWrite, true)), 0);
    for (std::uint32_t address = 0; address < 0x10100; address += 90)
        QCOMPARE(
            int(writer.WriteBlock(address, reinterpret_cast<const std::uint8_t*>(block.constData()), 90)), 0);
    QCOMPARE(int(writer.Close()), 0);
    const QList<QByteArray> lines = written(longRun).split('\n');
    QCOMPARE(lines[727], Record(0, 0xFF96, block));
    QCOMPARE(lines[728], QByteArray(":020000020FFFEE"));
    QCOMPARE(lines[729], Record(0, 0, block));
    QCOMPARE(lines[730], Record(0, 90, block));
}

void TTestHexFiles::writerRefusesWhatItCannotWrite() {
    const std::vector<std::uint8_t> data(300, 0x11);
    const QString path = FDir.filePath(QStringLiteral("refused.hex"));
    TIntelExtendedHexFile writer;
    QCOMPARE(int(writer.Open(path, hmWrite, true)), 0);
    QCOMPARE(int(writer.WriteBlock(0, data.data(), 256)), int(hrIllegalRecord));
    QCOMPARE(int(writer.WriteBlock(0x100000, data.data(), 1)), int(hrIllegalRecord));
    QCOMPARE(int(writer.WriteBlock(0xFFFF0, data.data(), 255)), 0);
    QCOMPARE(int(writer.Close()), 0);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), ":02000002FFFFFE\n" + Record(0, 0, QByteArray(255, 0x11)) + "\n");
}

void TTestHexFiles::intelRoundTrip() {
    std::mt19937 random(20240601);
    for (int round = 0; round < 20; ++round) {
        // Ascending runs with gaps; some cross 64 KiB and the 1 MiB edge stays out of reach.
        std::map<std::uint32_t, std::uint8_t> image;
        const QString path = FDir.filePath(QStringLiteral("round%1.hex").arg(round));
        TIntelExtendedHexFile writer;
        QCOMPARE(int(writer.Open(path, hmWrite, true)), 0);
        std::uint32_t address = std::uniform_int_distribution<std::uint32_t>(0, 0x3FFFF)(random);
        const int runs = std::uniform_int_distribution<int>(1, 12)(random);
        for (int run = 0; run < runs && address < 0xF0000; ++run) {
            int runLength = std::uniform_int_distribution<int>(1, 3000)(random);
            while (runLength > 0) {
                std::uint8_t chunk[93];
                const int size = std::min(runLength, std::uniform_int_distribution<int>(1, 93)(random));
                for (int i = 0; i < size; ++i) {
                    chunk[i] = std::uint8_t(random());
                    image[address + i] = chunk[i];
                }
                QCOMPARE(int(writer.WriteBlock(address, chunk, std::uint16_t(size))), 0);
                address += size;
                runLength -= size;
            }
            address += std::uniform_int_distribution<std::uint32_t>(1, 0x18000)(random);
        }
        QCOMPARE(int(writer.Close()), 0);

        TIntelExtendedHexFile reader;
        QCOMPARE(int(reader.Open(path, hmProgram, false)), 0);
        QCOMPARE(reader.StartAddress(), image.begin()->first);
        const std::vector<TBlock> blocks = ReadAll(reader);
        QCOMPARE(int(blocks.back().Result), int(hrEndOfFile));
        QVERIFY(Image(blocks) == image);
        QCOMPARE(reader.Position(), reader.TotalSize());
    }
}

void TTestHexFiles::binaryRoundTrip() {
    std::mt19937 random(77);
    QByteArray expected;
    const QString path = FDir.filePath(QStringLiteral("round.bin"));
    TBinaryDataHexFile writer(0, false);
    QCOMPARE(int(writer.Open(path, hmWrite, true)), 0);
    for (int i = 0; i < 50; ++i) {
        std::uint8_t chunk[200];
        const int size = std::uniform_int_distribution<int>(0, 200)(random);
        for (int j = 0; j < size; ++j)
            chunk[j] = std::uint8_t(random());
        expected.append(reinterpret_cast<const char*>(chunk), size);
        QCOMPARE(int(writer.WriteBlock(0xDEAD, chunk, std::uint16_t(size))), 0);
    }
    QCOMPARE(int(writer.Close()), 0);

    TBinaryDataHexFile reader(0x400, false);
    QCOMPARE(int(reader.Open(path, hmProgram, false)), 0);
    QByteArray delivered;
    for (const TBlock& block : ReadAll(reader))
        delivered += block.Data;
    QCOMPARE(delivered, expected);
}

void TTestHexFiles::errorHook() {
    QStringList shown;
    SetHexFileErrorHook([&](const QString& text, const QString& caption) { shown << caption + '|' + text; });
    ShowHexFileError(0, QStringLiteral("Tervolt Error"));
    QVERIFY(shown.isEmpty());
    ShowHexFileError(6, QStringLiteral("Tervolt Error"));
    ShowHexFileError(42, QStringLiteral("Tervolt Error"));
    SetHexFileErrorHook({});
    QCOMPARE(shown, (QStringList{"Tervolt Error|Illegal record in file.",
                                 "Tervolt Error|Unknown error - code no. 42"}));
}

void TTestHexFiles::errorBox() {
    // The skinned box, as every other message: its text, with the detail below it.
    SetHexFileErrorHook({});
    QList<TShownMessage> shown;
    const TScopedMessageResponder answer([&](const TShownMessage& message) {
        shown << message;
        return message.ButtonResults.first();
    });
    ShowHexFileError(8, QStringLiteral("Tervolt Error"), QStringLiteral("fw.hex, line 3"));
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().Text, QStringLiteral("Illegal file - non ascending addresses.\nfw.hex, line 3"));
    QCOMPARE(shown.first().Caption, QStringLiteral("Tervolt Error"));
    QCOMPARE(shown.first().IconType, suiStop);
    QCOMPARE(shown.first().ButtonCaptions, QStringList{QStringLiteral("Ok")});
}

QTEST_MAIN(TTestHexFiles)
// A file too large to hold, cut after the first pass measured it: the next pass (another board, the
// read-back) must say the image changed, not that the file was malformed.
void TTestHexFiles::streamedFileCutBeforeTheNextPass() {
    QByteArray text;
    for (int address = 0; address < 4096; address += 16)
        text += Record(0, quint16(address), Filled(16)) + "\n";
    const QString path = WriteFile(text + kEnd);
    QString detail;
    const std::shared_ptr<TImageSnapshot> snapshot = TImageSnapshot::Take(path, detail, 1024);
    QVERIFY(snapshot && !snapshot->InMemory());
    TIntelExtendedHexFile first;
    QCOMPARE(int(first.OpenSnapshot(snapshot)), int(hrOK));
    QVERIFY(QFile::resize(path, text.size() / 2 + 5)); // in the middle of a record
    TIntelExtendedHexFile next;
    QCOMPARE(int(next.OpenSnapshot(snapshot)), int(hrImageChanged));
}

#include "tst_hexfiles.moc"
