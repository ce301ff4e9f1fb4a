// Block gathering, the retry prompt, Stop and the outcomes of Program and Verify, on real image files.

#include "engine/flashengine.h"
#include "image/imagesnapshot.h"
#include "tests/support/hexwriter.h"

#include <QEventLoop>
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <vector>

namespace {

TImageSource Source(const QString& path, TImageFormat format, std::uint32_t start, bool header) {
    TImageSource source;
    source.FileName = path;
    source.Format = format;
    source.StartAddress = start;
    source.WriteSizeHeader = header;
    return source;
}

// The tables name the formats as the window's items did: 1 Intel Extended, 2 Binary.
TImageFormat FormatNumber(int number) {
    return number == 2   ? TImageFormat::Binary
           : number == 0 ? TImageFormat::Auto
                         : TImageFormat::IntelExtended;
}

struct TSentCommand {
    QByteArray Name; // INIT, RESET, PROG, VERIFY
    std::uint32_t Address = 0;
    QByteArray Data;
};

// Records every command; each answer comes from a script the test sets.
class TRecordingTarget : public TFlashTarget {
public:
    std::vector<TSentCommand> Sent;
    std::function<bool(const TSentCommand&)> Answer = [](const TSentCommand&) { return true; };
    std::function<void(const TSentCommand&, TCompareResult&)> Compare =
        [](const TSentCommand&, TCompareResult& r) { r.CompareOK = true; };

    bool InitFlash() override { return Record({"INIT", 0, {}}); }
    bool ResetFlash() override { return Record({"RESET", 0, {}}); }
    bool ProgramBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t count) override {
        return Record({"PROG", address, QByteArray(reinterpret_cast<const char*>(data), count)});
    }
    bool VerifyBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t count,
                     TCompareResult& result) override {
        result.CompareOK = false;
        TSentCommand c{"VERIFY", address, QByteArray(reinterpret_cast<const char*>(data), count)};
        if (!Record(c))
            return false;
        Compare(c, result);
        return true;
    }
    std::vector<TSentCommand> Blocks() const {
        std::vector<TSentCommand> blocks;
        for (const auto& c : Sent)
            if (c.Name == "PROG" || c.Name == "VERIFY")
                blocks.push_back(c);
        return blocks;
    }

private:
    bool Record(const TSentCommand& c) {
        Sent.push_back(c);
        return Answer(c);
    }
};

class TScriptedHost : public TFlashHost {
public:
    std::vector<bool> RetryAnswers; // consumed in order; true once they run out
    int Prompts = 0;
    std::vector<int> Progress;
    std::vector<std::uint32_t> Addresses;
    int Pumps = 0;
    std::function<bool(int pumps)> Stop = [](int) { return false; };
    std::vector<TFlashOutcome> Outcomes;

    bool AskRetry() override {
        const bool retry = size_t(Prompts) < RetryAnswers.size() ? RetryAnswers[size_t(Prompts)] : true;
        ++Prompts;
        return retry;
    }
    void ShowBlockAddress(std::uint32_t address) override { Addresses.push_back(address); }
    void ShowProgress(std::uint64_t sent, std::uint64_t total) override {
        Progress.push_back(int(sent * 100 / total));
    }
    void ProcessMessages() override { ++Pumps; }
    bool StopRequested() override { return Stop(Pumps); }
    void ReportOutcome(const TFlashOutcome& outcome) override { Outcomes.push_back(outcome); }
};

QByteArray Pattern(int size, int seed) {
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 7 + seed) & 0xFF);
    return data;
}

} // namespace

class TestFlashEngine : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;

    QString WriteHex(const QString& name, const std::vector<std::pair<std::uint32_t, QByteArray>>& records) {
        const QString path = FDir.filePath(name);
        return WriteIntelHexFile(path, records) ? path : QString();
    }
    QString WriteBinary(const QString& name, const QByteArray& bytes) {
        const QString path = FDir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            return {};
        return path;
    }
    static TImageSource Hex(const QString& path) {
        return Source(path, TImageFormat::IntelExtended, 0, true);
    }

private slots:
    void blockSizes_data();
    void blockSizes();
    void gapStartsNewBlock();
    void binaryImages_data();
    void binaryImages();
    void retryThenSuccess();
    void cancelInOpeningPrompt();
    void cancelInBlockPromptSendsNothingMore();
    void hostEventsServedOncePerBlock_data();
    void hostEventsServedOncePerBlock();
    void stopEndsBetweenBlocks();
    void stopBeforeTheEndStillSendsTheLastBlock();
    void progressFollowsConfirmedBytes_data();
    void progressFollowsConfirmedBytes();
    void progressOfHugeImageDoesNotOverflow();
    void mismatchEndsVerify_data();
    void mismatchEndsVerify();
    void emptyImagesSendNothing_data();
    void emptyImagesSendNothing();
    void malformedImageSendsNothing();
    void imageThatChangesDuringTheRun_data();
    void imageThatChangesDuringTheRun();
};

void TestFlashEngine::blockSizes_data() {
    QTest::addColumn<int>("recordSize");
    QTest::addColumn<bool>("verify");
    QTest::addColumn<int>("expectedBlock");
    QTest::newRow("20-byte records, program") << 20 << false << 180;
    QTest::newRow("20-byte records, verify") << 20 << true << 200;
    QTest::newRow("16-byte records, program") << 16 << false << 192;
    QTest::newRow("16-byte records, verify") << 16 << true << 192;
    QTest::newRow("40-byte records, program") << 40 << false << 160;
    QTest::newRow("40-byte records, verify") << 40 << true << 200;
}

void TestFlashEngine::blockSizes() {
    QFETCH(int, recordSize);
    QFETCH(bool, verify);
    QFETCH(int, expectedBlock);
    constexpr int kRecords = 50;
    const QByteArray image = Pattern(recordSize * kRecords, recordSize);
    std::vector<std::pair<std::uint32_t, QByteArray>> records;
    for (int i = 0; i < kRecords; ++i)
        records.emplace_back(0x1000 + i * recordSize, image.mid(i * recordSize, recordSize));
    const QString path = WriteHex(QStringLiteral("blocks.hex"), records);

    TRecordingTarget target;
    TScriptedHost host;
    TFlashEngine engine(target, host);
    const TFlashOutcome outcome =
        engine.Run(verify ? TFlashOperation::foVerify : TFlashOperation::foProgram, Hex(path));

    QCOMPARE(target.Sent.front().Name, verify ? QByteArray("RESET") : QByteArray("INIT"));
    const auto blocks = target.Blocks();
    QByteArray joined;
    std::uint32_t expectedAddress = 0x1000;
    for (size_t i = 0; i < blocks.size(); ++i) {
        QCOMPARE(blocks[i].Address, expectedAddress);
        if (i + 1 < blocks.size())
            QCOMPARE(blocks[i].Data.size(), expectedBlock);
        QVERIFY(blocks[i].Data.size() <= 200);
        expectedAddress += std::uint32_t(blocks[i].Data.size());
        joined += blocks[i].Data;
    }
    QCOMPARE(joined, image);
    QCOMPARE(outcome.Kind, verify ? TOutcomeKind::okCompareDone : TOutcomeKind::okProgramDone);
    QCOMPARE(outcome.Text, verify ? QStringLiteral("Compare OK!") : QStringLiteral("Program OK!"));
    QCOMPARE(host.Progress.back(), 100);
    QVERIFY(std::is_sorted(host.Progress.begin(), host.Progress.end()));
    QCOMPARE(host.Outcomes.size(), size_t(1));
}

void TestFlashEngine::gapStartsNewBlock() {
    const QString path = WriteHex(
        QStringLiteral("gap.hex"),
        {{0x100, Pattern(10, 1)}, {0x10A, Pattern(10, 2)}, {0x200, Pattern(4, 3)}, {0x10000, Pattern(1, 4)}});
    TRecordingTarget target;
    TScriptedHost host;
    TFlashEngine(target, host).Run(TFlashOperation::foProgram, Hex(path));
    const auto blocks = target.Blocks();
    QCOMPARE(blocks.size(), size_t(3));
    QCOMPARE(blocks[0].Address, 0x100u);
    QCOMPARE(blocks[0].Data, Pattern(10, 1) + Pattern(10, 2));
    QCOMPARE(blocks[1].Address, 0x200u);
    QCOMPARE(blocks[2].Address, 0x10000u);
    QCOMPARE(host.Addresses, (std::vector<std::uint32_t>{0x100, 0x200, 0x10000}));
}

void TestFlashEngine::binaryImages_data() {
    QTest::addColumn<bool>("header");
    QTest::addColumn<int>("size");
    QTest::addColumn<quint32>("start");
    QTest::addColumn<bool>("verify");
    // 500 bytes and the 4-byte little-endian size: 200, 200, 104.
    QTest::newRow("size header") << true << 500 << 0x4000u << false;
    QTest::newRow("bare data") << false << 450 << 0x20000u << true;
}

void TestFlashEngine::binaryImages() {
    QFETCH(bool, header);
    QFETCH(int, size);
    QFETCH(quint32, start);
    QFETCH(bool, verify);
    const QByteArray file = Pattern(size, 9);
    const QString path = WriteBinary(QStringLiteral("image.rbf"), file);
    TRecordingTarget target;
    TScriptedHost host;
    const auto outcome = TFlashEngine(target, host)
                             .Run(verify ? TFlashOperation::foVerify : TFlashOperation::foProgram,
                                  Source(path, TImageFormat::Binary, start, header));
    QByteArray sent = header ? QByteArray("\xF4\x01\x00\x00", 4) + file : file;
    const auto blocks = target.Blocks();
    QCOMPARE(blocks.size(), size_t(3));
    for (size_t i = 0; i < blocks.size(); ++i) {
        QCOMPARE(blocks[i].Address, start + 200u * std::uint32_t(i));
        QCOMPARE(blocks[i].Data, sent.mid(200 * int(i), 200));
    }
    QCOMPARE(outcome.Kind, verify ? TOutcomeKind::okCompareDone : TOutcomeKind::okProgramDone);
    QCOMPARE(host.Progress.back(), 100);
}

void TestFlashEngine::retryThenSuccess() {
    const QString path = WriteBinary(QStringLiteral("retry.bin"), Pattern(600, 3));
    TRecordingTarget target;
    int calls = 0;
    target.Answer = [&](const TSentCommand& c) {
        return !(c.Address == 200 && c.Name == "PROG" && calls++ < 2);
    };
    TScriptedHost host;
    const auto outcome = TFlashEngine(target, host)
                             .Run(TFlashOperation::foProgram, Source(path, TImageFormat::Binary, 0, false));
    QCOMPARE(host.Prompts, 2);
    const auto blocks = target.Blocks();
    QCOMPARE(blocks.size(), size_t(5)); // the second block went three times
    QCOMPARE(blocks[1].Address, 200u);
    QCOMPARE(blocks[2].Address, 200u);
    QCOMPARE(blocks[3].Address, 200u);
    QCOMPARE(outcome.Kind, TOutcomeKind::okProgramDone);
}

void TestFlashEngine::cancelInOpeningPrompt() {
    const QString path = WriteBinary(QStringLiteral("cancel.bin"), Pattern(300, 3));
    for (const bool verify : {false, true}) {
        TRecordingTarget target;
        target.Answer = [](const TSentCommand&) { return false; };
        TScriptedHost host;
        host.RetryAnswers = {false};
        const auto outcome = TFlashEngine(target, host)
                                 .Run(verify ? TFlashOperation::foVerify : TFlashOperation::foProgram,
                                      Source(path, TImageFormat::Binary, 0, false));
        QCOMPARE(target.Sent.size(), size_t(1)); // Cancel sends nothing more: no second erase
        QVERIFY(target.Blocks().empty());
        QCOMPARE(outcome.Kind, TOutcomeKind::okCancelled);
        QCOMPARE(outcome.Text, verify ? QStringLiteral("Verify operation canceled")
                                      : QStringLiteral("Program operation canceled"));
        QCOMPARE(outcome.Caption, QStringLiteral("Tervolt Message"));
        // The erase may have happened before its answer was lost.
        QCOMPARE(outcome.FlashState,
                 verify ? QString()
                        : QStringLiteral("The FLASH may have been erased; nothing was programmed."));
    }
}

void TestFlashEngine::cancelInBlockPromptSendsNothingMore() {
    const QString path = WriteBinary(QStringLiteral("cancel2.bin"), Pattern(1000, 3));
    TRecordingTarget target;
    target.Answer = [](const TSentCommand& c) { return c.Address != 400; };
    TScriptedHost host;
    host.RetryAnswers = {true, false};
    const auto outcome = TFlashEngine(target, host)
                             .Run(TFlashOperation::foProgram, Source(path, TImageFormat::Binary, 0, false));
    QCOMPARE(target.Blocks().size(), size_t(4)); // 0, 200, 400 twice: no send after Cancel
    QCOMPARE(host.Prompts, 2);
    QCOMPARE(outcome.Kind, TOutcomeKind::okCancelled);
}

// A target that waits for each answer in the event loop (as the serial one does) has served the
// host's events while the line was busy: no second pass between the answer and the next command.
void TestFlashEngine::hostEventsServedOncePerBlock_data() {
    QTest::addColumn<bool>("targetWaits");
    QTest::newRow("target answers at once") << false;
    QTest::newRow("target waits in the event loop") << true;
}

void TestFlashEngine::hostEventsServedOncePerBlock() {
    QFETCH(bool, targetWaits);
    const QString path = WriteBinary(QStringLiteral("pumps.bin"), Pattern(1000, 5));
    TRecordingTarget target;
    target.Answer = [targetWaits](const TSentCommand&) {
        if (targetWaits) {
            // Long enough that the loop must wait for it: a timer already due is served without waiting.
            QEventLoop loop;
            QTimer::singleShot(20, &loop, &QEventLoop::quit);
            loop.exec();
        }
        return true;
    };
    TScriptedHost host;
    const auto outcome = TFlashEngine(target, host)
                             .Run(TFlashOperation::foProgram, Source(path, TImageFormat::Binary, 0, false));
    QCOMPARE(outcome.Kind, TOutcomeKind::okProgramDone);
    QCOMPARE(target.Blocks().size(), size_t(5));
    QCOMPARE(host.Pumps, targetWaits ? 0 : 5);
}

void TestFlashEngine::stopEndsBetweenBlocks() {
    const QString path = WriteBinary(QStringLiteral("stop.bin"), Pattern(2000, 3));
    TRecordingTarget target;
    TScriptedHost host;
    host.Stop = [](int pumps) { return pumps >= 3; };
    const auto outcome = TFlashEngine(target, host)
                             .Run(TFlashOperation::foProgram, Source(path, TImageFormat::Binary, 0, false));
    // Seen at the loop test after the third pump: the block gathered then is dropped.
    QCOMPARE(target.Blocks().size(), size_t(3));
    QCOMPARE(outcome.Kind, TOutcomeKind::okCancelled);
    QCOMPARE(outcome.Text, QStringLiteral("Program operation canceled"));
}

void TestFlashEngine::stopBeforeTheEndStillSendsTheLastBlock() {
    const QString path = WriteBinary(QStringLiteral("stopend.bin"), Pattern(450, 3));
    TRecordingTarget target;
    TScriptedHost host;
    host.Stop = [](int pumps) { return pumps >= 2; }; // seen only once the end has been read
    const auto outcome = TFlashEngine(target, host)
                             .Run(TFlashOperation::foProgram, Source(path, TImageFormat::Binary, 0, false));
    QCOMPARE(target.Blocks().size(), size_t(3));
    QCOMPARE(target.Blocks().back().Data.size(), 50);
    QCOMPARE(outcome.Kind, TOutcomeKind::okCancelled);
}

void TestFlashEngine::progressFollowsConfirmedBytes_data() {
    QTest::addColumn<bool>("gappedHex");
    QTest::addColumn<int>("failingBlock"); // the block whose prompt is answered Cancel; -1 none
    QTest::addColumn<std::vector<int>>("progress");
    QTest::addColumn<QString>("flashState");
    // 700 bytes in blocks of 200: the share of bytes, truncated, then exactly 100.
    QTest::newRow("binary") << false << -1 << std::vector<int>{28, 57, 85, 100} << QString();
    // Two runs of records 64 KiB apart: the address span would show 0 % after half of the data.
    QTest::newRow("hex with a gap") << true << -1 << std::vector<int>{50, 100} << QString();
    // A block that was not confirmed moves nothing, and the FLASH is said to be half-written.
    QTest::newRow("cancel at the third block")
        << false << 2 << std::vector<int>{28, 57}
        << QStringLiteral("The FLASH holds the image only up to 0x00018F. The block up to 0x000257 went out "
                          "unconfirmed: it may be written in part, or elsewhere if the line changed it.");
    // The block that failed went out: the board may have written some of it.
    QTest::newRow("cancel at the first block")
        << false << 0 << std::vector<int>{}
        << QStringLiteral("The FLASH was erased; nothing was confirmed. The block up to 0x0000C7 went out "
                          "unconfirmed: it may be written in part, or elsewhere if the line changed it.");
}

void TestFlashEngine::progressFollowsConfirmedBytes() {
    QFETCH(bool, gappedHex);
    QFETCH(int, failingBlock);
    QFETCH(std::vector<int>, progress);
    QFETCH(QString, flashState);
    const QString path = gappedHex ? WriteHex(QStringLiteral("span.hex"), {{0x0000, Pattern(50, 1)},
                                                                           {0x0032, Pattern(50, 2)},
                                                                           {0x10000, Pattern(50, 3)},
                                                                           {0x10032, Pattern(50, 4)}})
                                   : WriteBinary(QStringLiteral("progress.bin"), Pattern(700, 1));
    TRecordingTarget target;
    int blocks = 0;
    target.Answer = [&](const TSentCommand& c) { return c.Name != "PROG" || blocks++ != failingBlock; };
    TScriptedHost host;
    host.RetryAnswers = {false};
    const auto outcome =
        TFlashEngine(target, host)
            .Run(TFlashOperation::foProgram,
                 Source(path, gappedHex ? TImageFormat::IntelExtended : TImageFormat::Binary, 0, false));
    QCOMPARE(host.Progress, progress);
    QCOMPARE(outcome.FlashState, flashState);
    QCOMPARE(outcome.BytesSent,
             std::uint64_t(failingBlock < 0 ? (gappedHex ? 200 : 700) : 200 * failingBlock));
}

void TestFlashEngine::progressOfHugeImageDoesNotOverflow() {
    // Above 42,949,672 bytes a 32-bit product of position and 100 wraps round.
    const QString path = FDir.filePath(QStringLiteral("huge.bin"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(50'000'000));
    file.close();
    class TCountingTarget : public TFlashTarget {
    public:
        bool InitFlash() override { return true; }
        bool ResetFlash() override { return true; }
        bool ProgramBlock(std::uint32_t, const std::uint8_t*, std::uint16_t) override { return true; }
        bool VerifyBlock(std::uint32_t, const std::uint8_t*, std::uint16_t, TCompareResult& r) override {
            r.CompareOK = true;
            return true;
        }
    } target;
    TScriptedHost host;
    const auto outcome = TFlashEngine(target, host)
                             .Run(TFlashOperation::foProgram, Source(path, TImageFormat::Binary, 0, false));
    QCOMPARE(outcome.Kind, TOutcomeKind::okProgramDone);
    QVERIFY(std::is_sorted(host.Progress.begin(), host.Progress.end()));
    QVERIFY(host.Progress.front() >= 0);
    QCOMPARE(host.Progress.back(), 100);
    QFile::remove(path);
}

void TestFlashEngine::mismatchEndsVerify_data() {
    QTest::addColumn<quint32>("block"); // the block that reads back wrong, of 1000 bytes in five
    QTest::addColumn<int>("sent");      // the blocks sent: none after the one found wrong
    QTest::addColumn<quint32>("expected");
    QTest::addColumn<QString>("text");
    QTest::newRow("last block") << 800u << 5 << 0x1234u
                                << "Compare error at address 0x001F00.\nExpected: 0x1234.\nActual: 0xFFFF.";
    QTest::newRow("second block") << 200u << 2 << 0x5u
                                  << "Compare error at address 0x001F00.\nExpected: 0x05.\nActual: 0xFFFF.";
}

void TestFlashEngine::mismatchEndsVerify() {
    QFETCH(quint32, block);
    QFETCH(int, sent);
    QFETCH(quint32, expected);
    QFETCH(QString, text);
    const QString path = WriteBinary(QStringLiteral("mismatch.bin"), Pattern(1000, 3));
    TRecordingTarget target;
    target.Compare = [&](const TSentCommand& c, TCompareResult& r) {
        r.CompareOK = c.Address != block;
        r.Address = 0x1F00;
        r.Expected = std::uint16_t(expected);
        r.Actual = 0xFFFF;
    };
    TScriptedHost host;
    const auto outcome = TFlashEngine(target, host)
                             .Run(TFlashOperation::foVerify, Source(path, TImageFormat::Binary, 0, false));
    QCOMPARE(target.Blocks().size(), size_t(sent));
    QCOMPARE(outcome.Kind, TOutcomeKind::okCompareError);
    QCOMPARE(outcome.Text, text);
    QCOMPARE(outcome.Caption, QStringLiteral("Tervolt Error"));
}

void TestFlashEngine::emptyImagesSendNothing_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("header");
    QTest::newRow("binary with size header") << "empty.rbf" << QByteArray() << 2 << true;
    QTest::newRow("binary without header") << "empty.bin" << QByteArray() << 2 << false;
    // An empty file is said to be one, in every format and when the format is to be detected.
    QTest::newRow("empty, detected") << "empty.img" << QByteArray() << 0 << true;
    QTest::newRow("empty hex") << "empty.hex" << QByteArray() << 1 << true;
    QTest::newRow("hex end record only") << "empty.hex" << QByteArray(":00000001FF\n") << 1 << true;
    QTest::newRow("hex zero-length data")
        << "zero.hex" << QByteArray(":00010000FF\n:00000001FF\n") << 1 << true;
    // A size measure of 256 but not one byte to send.
    QTest::newRow("hex zero-length records at two addresses")
        << "zeros.hex" << QByteArray(":00010000FF\n:00020000FE\n:00000001FF\n") << 1 << true;
}

void TestFlashEngine::emptyImagesSendNothing() {
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(int, format);
    QFETCH(bool, header);
    const QString path = WriteBinary(name, content);
    TRecordingTarget target;
    TScriptedHost host;
    const auto outcome = TFlashEngine(target, host)
                             .Run(TFlashOperation::foProgram, Source(path, FormatNumber(format), 0, header));
    QVERIFY(target.Sent.empty());
    QVERIFY(host.Progress.empty());
    QCOMPARE(outcome.Kind, TOutcomeKind::okEmptyImage);
    QCOMPARE(outcome.Text, content.isEmpty() ? QStringLiteral("The image file is empty.")
                                             : QStringLiteral("Image file holds no data."));
}

void TestFlashEngine::malformedImageSendsNothing() {
    const QString path = WriteBinary(QStringLiteral("bad.hex"), ":0200000012\n");
    TRecordingTarget target;
    TScriptedHost host;
    const auto outcome = TFlashEngine(target, host).Run(TFlashOperation::foProgram, Hex(path));
    QVERIFY(target.Sent.empty());
    QCOMPARE(outcome.Kind, TOutcomeKind::okImageError);
    QCOMPARE(outcome.Text, QStringLiteral("Illegal record in file."));
    const auto missing =
        TFlashEngine(target, host).Run(TFlashOperation::foVerify, Hex(FDir.filePath("none.hex")));
    QCOMPARE(missing.Text, QStringLiteral("Cannot open file."));
    QVERIFY(target.Sent.empty());
}

void TestFlashEngine::imageThatChangesDuringTheRun_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("change"); // cut, grow, rewrite (same size, other bytes), garble, rename
    QTest::addColumn<bool>("streamed");     // larger than the bound of an image held in memory
    QTest::addColumn<bool>("sentWhole");    // true: "Program OK!" with the first image's bytes
    QTest::addColumn<QByteArray>("data");   // the first image's bytes
    const QByteArray binary = Pattern(20000, 3);
    std::vector<std::pair<std::uint32_t, QByteArray>> records;
    QByteArray hexData;
    for (std::uint32_t a = 0; a < 20000; a += 16) {
        records.emplace_back(a, Pattern(16, int(a)));
        hexData += records.back().second;
    }
    const QByteArray hex = IntelHexText(records, true);
    for (const bool streamed : {false, true})
        for (const char* change : {"cut", "grow", "rewrite", "garble", "rename"}) {
            // Windows removes no file that a reader holds open: there is no rename over it to test.
            if (streamed && QByteArray(change) == "rename" &&
                QSysInfo::productType() == QLatin1String("windows"))
                continue;
            // Held in memory, nothing that happens to the file reaches the board. Read from the file,
            // a change of the measured bytes fails the run; bytes appended lie past the measure, and a
            // renamed-over file is still the one opened.
            const bool sentWhole =
                !streamed || QByteArray(change) == "rename" || QByteArray(change) == "grow";
            const char* how = streamed ? "streamed" : "in memory";
            QTest::addRow("binary %s, %s", how, change)
                << 2 << binary << QByteArray(change) << streamed << sentWhole << binary;
            QTest::addRow("hex %s, %s", how, change)
                << 1 << hex << QByteArray(change) << streamed << sentWhole << hexData;
        }
}

// A file rewritten while it is sent must never end "Program OK!" with a mix of two images on the board.
void TestFlashEngine::imageThatChangesDuringTheRun() {
    QFETCH(int, format);
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, change);
    QFETCH(bool, streamed);
    QFETCH(bool, sentWhole);
    QFETCH(QByteArray, data);
    const QString path = WriteBinary(QStringLiteral("changing.img"), content);
    TImageSource source = Source(path, FormatNumber(format), 0, false);
    if (streamed) {
        QString detail;
        source.Snapshot = TImageSnapshot::Take(path, detail, 1024);
        QVERIFY(source.Snapshot && !source.Snapshot->InMemory());
    }
    // Another image of the same size: other bytes, or other valid records.
    QByteArray other = Pattern(int(content.size()), 77);
    if (format == 1) {
        std::vector<std::pair<std::uint32_t, QByteArray>> records;
        for (std::uint32_t a = 0; a < 20000; a += 16)
            records.emplace_back(a, Pattern(16, int(a) + 1));
        other = IntelHexText(records, true);
    }
    TRecordingTarget target;
    target.Answer = [&](const TSentCommand& c) {
        if (c.Name != "PROG" || target.Blocks().size() != 1)
            return true;
        QFile file(path);
        bool changed = true;
        if (change == "rename") {
            const QString next = path + QStringLiteral(".new");
            changed = WriteBinary(QStringLiteral("changing.img.new"), other) == next && QFile::remove(path) &&
                      QFile::rename(next, path);
        } else if (file.open(QIODevice::ReadWrite)) {
            if (change == "cut")
                changed = file.resize(content.size() / 2);
            else if (change == "grow")
                changed = file.seek(file.size()) && file.write(Pattern(5000, 9)) == 5000;
            else if (change == "rewrite" || change == "garble")
                changed = file.write(change == "rewrite" ? other : QByteArray(content.size(), 'x')) > 0;
        } else {
            changed = false;
        }
        if (!changed)
            qFatal("cannot change %s", qPrintable(path));
        return true;
    };
    TScriptedHost host;
    const auto outcome = TFlashEngine(target, host).Run(TFlashOperation::foProgram, source);
    if (sentWhole) {
        QCOMPARE(outcome.Text, QStringLiteral("Program OK!"));
        QByteArray sent;
        for (const TSentCommand& block : target.Blocks())
            sent += block.Data;
        QCOMPARE(sent, data);
        return;
    }
    QCOMPARE(outcome.Kind, TOutcomeKind::okImageError);
    QCOMPARE(outcome.Text, QStringLiteral("Image file changed while it was being sent."));
    QVERIFY2(outcome.Detail.startsWith(path + QStringLiteral(": ")), qPrintable(outcome.Detail));
    QVERIFY(!host.Progress.empty() && host.Progress.back() <= 100);
}

QTEST_GUILESS_MAIN(TestFlashEngine)
#include "tst_flashengine.moc"
