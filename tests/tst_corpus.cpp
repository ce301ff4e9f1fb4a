// Malformed and boundary image files (tests/corpus/image) with the outcome each must have, listed in
// expected.tsv: read through the readers block by block and run through `tervolt-cli blocks`.
// Two large images are generated here instead of being kept in the tree.

#include "image/hexfiles.h"
#include "image/imagereader.h"
#include "tests/support/clirun.h"
#include "tests/support/hexwriter.h"
#include "tests/support/tsvtable.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

const QString kCorpusDir = QStringLiteral(TERVOLT_SOURCE_DIR "/tests/corpus/image");
const QString kManifest = QStringLiteral("expected.tsv");
constexpr std::uint16_t kBlockMax = 200;
constexpr int kCliTimeoutMs = 120000; // generous: the machines are shared
constexpr int kMinCorpusFiles = 60;

struct TImageCase {
    QString File;
    QString Format; // as --format names it
    bool Binary = false;
    int Open = 0;
    int Final = 0;
    std::optional<std::uint32_t> Start;
    std::optional<std::uint32_t> Total;
    std::optional<std::uint64_t> Bytes;
    int CliExit = 0;
    QString Message;
    QString Note;
    bool Disputed() const { return Note.startsWith(QLatin1String("disputed:")); }
};

std::optional<std::uint32_t> OptionalNumber(const QString& text, int base) {
    if (text == QLatin1String("-"))
        return std::nullopt;
    bool ok = false;
    const std::uint32_t value = text.toUInt(&ok, base);
    if (!ok)
        qFatal("bad number '%s' in %s", qPrintable(text), qPrintable(kManifest));
    return value;
}

std::vector<TImageCase> ImageCases() {
    std::vector<TImageCase> cases;
    for (const QStringList& f : ReadTable(QDir(kCorpusDir).filePath(kManifest), 10)) {
        TImageCase c;
        c.File = f[0];
        c.Format = f[1];
        c.Binary = f[1] == QLatin1String("bin");
        c.Open = f[2].toInt();
        c.Final = f[3].toInt();
        c.Start = OptionalNumber(f[4], 16);
        c.Total = OptionalNumber(f[5], 10);
        c.Bytes = OptionalNumber(f[6], 10);
        c.CliExit = f[7].toInt();
        c.Message = f[8];
        c.Note = f[9];
        cases.push_back(c);
    }
    return cases;
}

struct TReadSummary {
    THexResult Final = hrOK;
    std::uint64_t Bytes = 0;
    int Blocks = 0;
    std::optional<std::uint32_t> FirstAddress;
    bool Ascending = true;       // no block starts below an earlier one
    bool PositionInRange = true; // Position() never passed TotalSize()
    bool MeasureKept = true;     // DataSize() stayed what the pre-scan measured
    QString Fault;               // a broken invariant; empty when none
};

// Every ReadBlock call up to the first non-zero result. The call count is bounded by the file size:
// each call that returns 0 consumes at least one line, so a reader that stalls fails instead of hanging.
TReadSummary ReadAll(TAbsoluteHexFile& reader, qint64 fileSize) {
    TReadSummary summary;
    const qint64 maxCalls = fileSize + 4;
    constexpr std::uint8_t kGuard = 0xA5;
    std::uint32_t highest = 0;
    const std::uint64_t measured = reader.DataSize();
    for (qint64 call = 0; call <= maxCalls; ++call) {
        std::uint8_t buffer[kBlockMax + 8];
        std::memset(buffer + kBlockMax, kGuard, 8);
        std::uint32_t address = 0;
        std::uint16_t length = 0xFFFF;
        const THexResult result = reader.ReadBlock(address, buffer, length, kBlockMax);
        for (int i = kBlockMax; i < kBlockMax + 8; ++i)
            if (buffer[i] != kGuard)
                summary.Fault = QStringLiteral("ReadBlock wrote past the caller's maximum");
        if (length > kBlockMax)
            summary.Fault = QStringLiteral("length %1 above the maximum").arg(length);
        if (reader.Position() > reader.TotalSize())
            summary.PositionInRange = false;
        if (reader.DataSize() != measured)
            summary.MeasureKept = false;
        if (result != hrOK) {
            summary.Final = result;
            if (result == hrEndOfFile && length != 0)
                summary.Fault = QStringLiteral("end of data with length %1").arg(length);
            return summary;
        }
        if (length == 0)
            continue;
        if (!summary.FirstAddress)
            summary.FirstAddress = address;
        else if (address < highest)
            summary.Ascending = false;
        highest = std::max(highest, address);
        summary.Bytes += length;
        ++summary.Blocks;
        if (!summary.Fault.isEmpty())
            return summary;
    }
    summary.Fault = QStringLiteral("no end after %1 calls").arg(maxCalls);
    return summary;
}

// "-": no format given, as the CLI's default; a named auto lets the content outweigh the name.
const QString kNoFormat = QStringLiteral("-");

std::unique_ptr<TAbsoluteHexFile> ReaderFor(const QString& format) {
    if (format == kNoFormat)
        return CreateImageReaderFor(TImageFormat::Auto, 0, true, TNameRule::NameFirst);
    const std::optional<TImageFormat> named = ImageFormatFromName(format);
    if (!named)
        qFatal("unknown format '%s' in %s", qPrintable(format), qPrintable(kManifest));
    return CreateImageReaderFor(*named, 0, true, TNameRule::ContentFirst);
}

TCliRun RunBlocks(const QString& path, const QString& format) {
    QStringList arguments{QStringLiteral("blocks"), path, QStringLiteral("--quiet")};
    if (format != kNoFormat)
        arguments << QStringLiteral("--format") << format;
    return RunCli(arguments, QString(), kCliTimeoutMs);
}

// Data bytes in the printed block commands; -1 when a line before the last is not a block command.
qint64 PrintedBytes(const QStringList& lines) {
    qint64 bytes = 0;
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const QStringList words = lines[i].split(QLatin1Char(' '));
        if (words.size() != 4 || words[0] != QLatin1String("P") || words[1] != QLatin1String("PROG") ||
            words[3].size() % 2 != 0)
            return -1;
        bytes += words[3].size() / 2;
    }
    return bytes;
}

} // namespace

Q_DECLARE_METATYPE(TImageCase)

class TTestCorpus : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FDir;
    static void AddImageRows();

private slots:
    void initTestCase();
    void manifestCoversCorpus();
    void readImage_data() { AddImageRows(); }
    void readImage();
    void cliBlocks_data() { AddImageRows(); }
    void cliBlocks();
    void strictAndFullIntelAgree();
    void hugeIntelImage();
    void hugeBinaryImage();
};

void TTestCorpus::AddImageRows() {
    QTest::addColumn<TImageCase>("image");
    for (const TImageCase& c : ImageCases())
        QTest::newRow(qPrintable(c.File)) << c;
}

void TTestCorpus::initTestCase() {
    QVERIFY(FDir.isValid());
    QVERIFY2(QFile::exists(CliProgram()), "tervolt-cli is not built");
}

void TTestCorpus::manifestCoversCorpus() {
    QStringList listed;
    for (const TImageCase& c : ImageCases())
        listed << c.File;
    listed.sort();
    QCOMPARE(listed, CorpusFolderFiles(kCorpusDir, kManifest));
    QVERIFY2(listed.size() >= kMinCorpusFiles, qPrintable(QString::number(listed.size())));
    QCOMPARE(listed.removeDuplicates(), 0);
}

void TTestCorpus::readImage() {
    QFETCH(TImageCase, image);
    const QString path = QDir(kCorpusDir).filePath(image.File);
    const qint64 fileSize = QFileInfo(path).size();
    const std::unique_ptr<TAbsoluteHexFile> reader = ReaderFor(image.Format);
    if (image.Disputed())
        QEXPECT_FAIL("", qPrintable(image.Note), Abort);
    QCOMPARE(int(reader->Open(path, hmProgram, false)), image.Open);
    if (image.Start)
        QCOMPARE(reader->StartAddress(), *image.Start);
    if (image.Total)
        QCOMPARE(reader->TotalSize(), *image.Total);

    // After a failed Open the file stays open and rewound: reading on must meet the same fault again.
    const TReadSummary read = ReadAll(*reader, fileSize);
    QVERIFY2(read.Fault.isEmpty(), qPrintable(read.Fault));
    QCOMPARE(int(read.Final), image.Final);
    if (image.Bytes)
        QCOMPARE(read.Bytes, *image.Bytes);
    if (image.Open == hrOK) {
        QVERIFY(read.PositionInRange);
        QVERIFY(read.MeasureKept);
        QCOMPARE(reader->Position(), reader->TotalSize());
        QVERIFY(read.Ascending);
        if (!image.Binary)
            QCOMPARE(read.FirstAddress.value_or(0xFFFFFFFFu), reader->StartAddress());
    }
    QCOMPARE(int(reader->Close()), int(hrOK));
    QVERIFY(!reader->IsOpen());
}

void TTestCorpus::cliBlocks() {
    QFETCH(TImageCase, image);
    const TCliRun run = RunBlocks(QDir(kCorpusDir).filePath(image.File), image.Format);
    if (image.Disputed())
        QEXPECT_FAIL("", qPrintable(image.Note), Abort);
    QVERIFY2(run.Exit == image.CliExit && !run.Out.isEmpty(),
             qPrintable(QStringLiteral("exit %1, output %2, errors %3")
                            .arg(run.Exit)
                            .arg(run.Out.join(QLatin1Char('|')), run.Err)));
    QCOMPARE(run.Out.last(), image.Message);
    if (image.CliExit != 0) {
        // A refused image sends nothing: the message is all there is.
        QCOMPARE(run.Out.size(), 1);
        return;
    }
    if (image.Bytes)
        QCOMPARE(PrintedBytes(run.Out), qint64(*image.Bytes));
}

// Every Intel HEX file that the strict reader accepts gives the same blocks through the full one.
void TTestCorpus::strictAndFullIntelAgree() {
    int compared = 0;
    for (const TImageCase& image : ImageCases()) {
        if (image.Format != QLatin1String("hex") || image.Open != hrOK || image.Final != hrEndOfFile)
            continue;
        const QString path = QDir(kCorpusDir).filePath(image.File);
        QList<QPair<std::uint32_t, QByteArray>> blocks[2];
        THexResult results[2] = {};
        for (const bool full : {false, true}) {
            TIntelExtendedHexFile reader(full);
            QCOMPARE(int(reader.Open(path, hmProgram, false)), int(hrOK));
            std::uint8_t buffer[kBlockMax];
            std::uint32_t address = 0;
            std::uint16_t length = 0;
            while ((results[full] = reader.ReadBlock(address, buffer, length, kBlockMax)) == hrOK)
                blocks[full].append({address, QByteArray(reinterpret_cast<const char*>(buffer), length)});
        }
        QVERIFY2(blocks[0] == blocks[1] && results[0] == results[1], qPrintable(image.File));
        ++compared;
    }
    QVERIFY(compared > 10);
}

void TTestCorpus::hugeIntelImage() {
    // 60000 contiguous 16-byte records (about 2.6 MB of text), with type 02 records every 64 KiB.
    constexpr int kRecords = 60000;
    constexpr int kRecordBytes = 16;
    std::vector<std::pair<std::uint32_t, QByteArray>> records;
    records.reserve(kRecords);
    for (int i = 0; i < kRecords; ++i)
        records.emplace_back(std::uint32_t(i * kRecordBytes), QByteArray(kRecordBytes, char(i)));
    const QString path = FDir.filePath(QStringLiteral("huge.hex"));
    QVERIFY(WriteIntelHexFile(path, records));

    TIntelExtendedHexFile reader;
    QCOMPARE(int(reader.Open(path, hmProgram, false)), int(hrOK));
    QCOMPARE(reader.StartAddress(), 0u);
    // The first record lies at 0, so the distance to the second is not counted; every later record
    // adds its distance and its length.
    QCOMPARE(reader.TotalSize(), std::uint32_t(2 * kRecordBytes * (kRecords - 1)));
    const TReadSummary read = ReadAll(reader, QFileInfo(path).size());
    QVERIFY2(read.Fault.isEmpty(), qPrintable(read.Fault));
    QCOMPARE(int(read.Final), int(hrEndOfFile));
    QCOMPARE(read.Bytes, std::uint64_t(kRecords) * kRecordBytes);
    QCOMPARE(read.Blocks, kRecords);
    QCOMPARE(reader.Position(), reader.TotalSize());
    reader.Close();

    // Program gathers contiguous records into blocks below 200 bytes: twelve records, 192 bytes.
    const TCliRun run = RunBlocks(path, QStringLiteral("hex"));
    QCOMPARE(run.Exit, 0);
    QCOMPARE(run.Out.size(), kRecords / 12 + 1);
    QCOMPARE(run.Out.last(), QStringLiteral("Program OK!"));
    QCOMPARE(PrintedBytes(run.Out), qint64(kRecords) * kRecordBytes);
    QVERIFY(run.Out.first().startsWith(QLatin1String("P PROG 000000 ")));
}

void TTestCorpus::hugeBinaryImage() {
    constexpr qint64 kSize = 3000000;
    const QString path = FDir.filePath(QStringLiteral("huge.bin"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QByteArray chunk(1000, '\0');
        for (int i = 0; i < chunk.size(); ++i)
            chunk[i] = char(i * 7);
        for (qint64 written = 0; written < kSize; written += chunk.size())
            QCOMPARE(file.write(chunk), qint64(chunk.size()));
    }
    TBinaryDataHexFile reader(0x100000, true);
    QCOMPARE(int(reader.Open(path, hmProgram, false)), int(hrOK));
    QCOMPARE(reader.TotalSize(), std::uint32_t(kSize));
    const TReadSummary read = ReadAll(reader, kSize);
    QVERIFY2(read.Fault.isEmpty(), qPrintable(read.Fault));
    QCOMPARE(int(read.Final), int(hrEndOfFile));
    QCOMPARE(read.Bytes, std::uint64_t(kSize + 4));
    QCOMPARE(reader.Position(), reader.TotalSize());
    reader.Close();

    // Blocks of 200 bytes, the first holding the size header: 3000004 bytes in 15001 commands.
    const TCliRun run = RunBlocks(path, QStringLiteral("bin"));
    QCOMPARE(run.Exit, 0);
    QCOMPARE(run.Out.size(), 15001 + 1);
    QCOMPARE(run.Out.first().left(22), QStringLiteral("P PROG 000000 C0C62D00"));
    QCOMPARE(PrintedBytes(run.Out), kSize + 4);
}

QTEST_GUILESS_MAIN(TTestCorpus)
#include "tst_corpus.moc"
