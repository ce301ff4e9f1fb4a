#include "python/scriptboard.h"

#include "cli/clilink.h"
#include "cli/terminalhost.h"
#include "devices/deviceslocation.h"
#include "image/imagereader.h"
#include "image/imagesnapshot.h"

#include <QElapsedTimer>

namespace {

constexpr std::uint16_t kSizeHeaderBytes = 4;

TImageSource SourceOf(const QString& fileName, std::optional<TImageFormat> format, std::uint32_t startAddress,
                      bool writeSizeHeader) {
    TImageSource source;
    source.FileName = fileName;
    source.Format = format.value_or(TImageFormat::Auto);
    source.StartAddress = startAddress;
    source.WriteSizeHeader = writeSizeHeader;
    // As the command line: a format named lets a whole image outweigh a .bin name.
    source.NameRule = format ? TNameRule::ContentFirst : TNameRule::NameFirst;
    return source;
}

} // namespace

std::optional<TScriptImage> ReadScriptImage(const QString& fileName, std::optional<TImageFormat> format,
                                            std::uint32_t startAddress, bool writeSizeHeader,
                                            TFlashOutcome& refused) {
    const TImageSource source = SourceOf(fileName, format, startAddress, writeSizeHeader);
    std::unique_ptr<TAbsoluteHexFile> reader = CreateImageReader(source);
    std::optional<TFlashOutcome> refusal = CheckImage(*reader, source);
    TScriptImage image;
    image.FileName = fileName;
    image.Format = reader->ReadsAs();
    image.StartAddress = startAddress;
    image.WriteSizeHeader = writeSizeHeader;
    image.Snapshot = reader->Snapshot();
    image.Total = reader->DataSize();
    const bool header = image.Format == TImageFormat::Binary && writeSizeHeader;
    image.DataSize = header && image.Total >= kSizeHeaderBytes ? image.Total - kSizeHeaderBytes : image.Total;
    image.Note = reader->Note();
    reader->Close();
    if (refusal) {
        refused = std::move(*refusal);
        refused.ReadAs = image.Format;
        return std::nullopt;
    }
    return image;
}

namespace {

// A target that takes every Program block and keeps where it went, as `tervolt-cli blocks` prints them.
class TBlockRecorder : public TFlashTarget {
public:
    std::vector<TImageBlock> Blocks;

    bool InitFlash() override { return true; }
    bool ResetFlash() override { return true; }
    bool ProgramBlock(std::uint32_t address, const std::uint8_t*, std::uint16_t count) override {
        Blocks.push_back({address, count});
        return true;
    }
    bool VerifyBlock(std::uint32_t, const std::uint8_t*, std::uint16_t, TCompareResult& result) override {
        result.CompareOK = true;
        return true;
    }
};

} // namespace

std::vector<TImageBlock> ScriptImageBlocks(const TScriptImage& image, QString& error) {
    TImageSource source = SourceOf(image.FileName, image.Format, image.StartAddress, image.WriteSizeHeader);
    source.Snapshot = image.Snapshot;
    TBlockRecorder target;
    TStderrProgress silent(false);
    const std::atomic<bool> never{false};
    TTerminalHost host(0, silent, nullptr, &never);
    const TFlashOutcome outcome = TFlashEngine(target, host).Run(TFlashOperation::foProgram, source);
    if (outcome.Kind != TOutcomeKind::okProgramDone) {
        error = outcome.Detail.isEmpty() ? outcome.Text : outcome.Text + QLatin1Char('\n') + outcome.Detail;
        return {};
    }
    return std::move(target.Blocks);
}

// What a step says, kept for its outcome; progress counted for the caller's poll.
class TScriptBoard::TOutput : public TBoardOutput, private TProgressDisplay {
public:
    explicit TOutput(TScriptBoard& board) : FBoard(board) {}

    QStringList Diagnostics;

    void Line(const QString&) override {} // the result keeps the lines
    void Error(const QString& text) override { Diagnostics << text; }
    TProgressDisplay& BeginTransfer(const QString&) override {
        FBoard.FSent.store(0);
        FBoard.FPass.fetch_add(1);
        return *this;
    }

private:
    void Show(int, std::uint32_t, double) override {}
    void Bytes(std::uint64_t sent, std::uint64_t total) override {
        FBoard.FTotal.store(total);
        FBoard.FSent.store(sent);
    }
    void Note(const QString& text) override { Diagnostics << text; }
    void Finish() override {}

    TScriptBoard& FBoard;
};

TScriptBoard::TScriptBoard(const TScriptBoardSettings& settings) : FOutput(std::make_unique<TOutput>(*this)) {
    FOptions.Retries = settings.Retries;
    FOptions.Baud = settings.Baud;
    FOptions.Quiet = true;
    FOptions.DevicesFile = settings.DevicesFile;
    QStringList warnings; // only of stored settings, which a named port and rate never read
    FJob.Options = &FOptions;
    FJob.Port = settings.Port;
    FJob.Link = ResolveLinkSettings(FOptions, settings.Port, warnings);
    FJob.Stop = &FStop;
    FShownPort = FJob.ShownPort();

    // As tervolt-cli: a list named is the whole list; the one found gets the per-user additions.
    if (!settings.DevicesFile.isEmpty()) {
        FJob.DevicesFile = settings.DevicesFile;
        FJob.DevicesLoaded = FDevices.LoadFromFile(settings.DevicesFile);
        FJob.DevicesError = FDevices.LastFailure();
    } else {
        const TDevicesFileLocation location =
            LocateDevicesFile(settings.ModuleDirectory, settings.InstalledDataDir);
        FJob.DevicesFile = location.Path.isEmpty() ? kDevicesFileName : location.Path;
        if (location.Path.isEmpty())
            FJob.DevicesError = location.NotFoundText();
        else
            FJob.DevicesLoaded = LoadDeviceLists(FDevices, location.Path, FJob.DevicesError);
    }
    FJob.Devices = &FDevices;
}

TScriptBoard::~TScriptBoard() {
    Close();
}

void TScriptBoard::Progress(std::uint64_t& done, std::uint64_t& total) const {
    const int passes = FPasses.load();
    const int pass = std::max(FPass.load(), 1);
    const std::uint64_t each = FTotal.load();
    total = each * std::uint64_t(passes);
    done = each * std::uint64_t(std::min(pass, passes) - 1) + FSent.load();
}

TScriptOutcome TScriptBoard::Step(const QString& operation, const std::function<int(TBoardSession&)>& steps,
                                  const TPoll& poll) {
    TScriptOutcome outcome;
    outcome.Result.Port = FShownPort;
    outcome.Result.Operation = operation;
    FOutput->Diagnostics.clear();
    QElapsedTimer clock;
    clock.start();
    FWorker.Run(
        [&] {
            if (!FSession && !FClosed) {
                FSession = std::make_unique<TBoardSession>(FJob, *FOutput);
                FSession->Begin(outcome.Result);
                outcome.Result.ExitStatus = FSession->Connect();
                FOpen = outcome.Result.ExitStatus == esSuccess;
                if (!FOpen)
                    FSession.reset();
            }
            if (FOpen && steps) {
                FSession->Begin(outcome.Result);
                outcome.Result.ExitStatus = steps(*FSession);
            } else if (!FOpen && steps) {
                TBoardResult& result = outcome.Result;
                result.ExitStatus = esCommunicationFailure;
                result.Fault = TLineFault::LineLost;
                result.Headline = QStringLiteral("The port %1 is closed.").arg(FShownPort);
                result.Lines << result.Headline;
            }
        },
        poll, kPollMs);
    if (outcome.Result.ExitStatus == esInterrupted)
        FStop.store(false);
    outcome.Result.Seconds = double(clock.elapsed()) / 1000.0;
    outcome.Diagnostics = FOutput->Diagnostics;
    return outcome;
}

TScriptOutcome TScriptBoard::Open(const TPoll& poll) {
    return Step(QStringLiteral("open"), nullptr, poll);
}

TScriptOutcome TScriptBoard::Ping(const TPoll& poll) {
    return Step(
        QStringLiteral("ping"), [](TBoardSession& session) { return session.Ping(); }, poll);
}

TScriptOutcome TScriptBoard::Identify(const TPoll& poll) {
    return Step(
        QStringLiteral("identify"),
        [](TBoardSession& session) {
            const int status = session.Ping();
            return status == esSuccess ? session.Identify(true) : status;
        },
        poll);
}

TScriptOutcome TScriptBoard::Transfer(const TScriptImage& image, bool program, bool verify,
                                      const TPoll& poll) {
    FOptions.FileName = image.FileName;
    FOptions.FileFormat = image.Format;
    FOptions.FormatGiven = true;
    FOptions.Image = image.Snapshot;
    FOptions.StartAddress = image.StartAddress;
    FOptions.WriteSizeHeader = image.WriteSizeHeader;
    FSent.store(0);
    FTotal.store(image.Total);
    FPass.store(0);
    FPasses.store(program && verify ? 2 : 1);
    const QString operation = !program ? QStringLiteral("verify")
                              : verify ? QStringLiteral("program+verify")
                                       : QStringLiteral("program");
    return Step(
        operation,
        [program, verify](TBoardSession& session) {
            int status = session.Ping();
            if (status == esSuccess)
                status = session.Identify(false);
            if (status != esSuccess)
                return status;
            if (!program)
                return session.Transfer(TFlashOperation::foVerify);
            status = session.Transfer(TFlashOperation::foProgram);
            return status != esSuccess || !verify ? status : session.Transfer(TFlashOperation::foVerify);
        },
        poll);
}

void TScriptBoard::Close() {
    FClosed = true;
    // The session's driver and timers go on the thread that made them; then the thread ends.
    if (FSession)
        FWorker.Run([this] { FSession.reset(); }, [] {}, kPollMs);
    FOpen = false;
    FWorker.Quit();
}
