#include "engine/flashengine.h"

#include "engine/eventloopwaits.h"
#include "engine/processpriority.h"
#include "image/imagereader.h"
#include "image/imagesnapshot.h"

#include <cstring>

namespace {

const QString kCaptionError = QStringLiteral("Tervolt Error");
const QString kCaptionMessage = QStringLiteral("Tervolt Message");

// The pre-scan measured the image; a second pass that delivers more than that, or ends short of it,
// is reading a file that changed meanwhile.
THexResult CheckAgainstMeasure(const TAbsoluteHexFile& reader, THexResult result) {
    if ((result == hrOK && reader.Position() > reader.TotalSize()) ||
        (result == hrEndOfFile && reader.Position() != reader.TotalSize()))
        return hrImageChanged;
    return result;
}

QString ImageErrorDetail(const TAbsoluteHexFile& reader, const TImageSource& source, THexResult result) {
    if (result != hrImageChanged)
        return reader.LastFailure();
    if (reader.Position() == reader.TotalSize())
        return QStringLiteral("%1: its blocks differ from those measured before the run")
            .arg(source.FileName);
    return QStringLiteral("%1: %2 bytes measured before the run, %3 read")
        .arg(source.FileName)
        .arg(reader.TotalSize())
        .arg(reader.Position());
}

TFlashOutcome OutcomeOf(TOutcomeKind kind, THexResult result, const QString& text, const QString& caption) {
    TFlashOutcome outcome;
    outcome.Kind = kind;
    outcome.ImageResult = result;
    outcome.Text = text;
    outcome.Caption = caption;
    return outcome;
}

TFlashOutcome ImageErrorOutcome(THexResult result) {
    return OutcomeOf(TOutcomeKind::okImageError, result, HexFileErrorMessage(result), kCaptionError);
}

QString UpperHex(std::uint32_t value, int minDigits) {
    return QStringLiteral("%1").arg(value, minDigits, 16, QLatin1Char('0')).toUpper();
}

} // namespace

std::unique_ptr<TAbsoluteHexFile> CreateImageReader(const TImageSource& source) {
    return CreateImageReaderFor(source.Format, source.StartAddress, source.WriteSizeHeader, source.NameRule);
}

THexResult OpenImageSource(TAbsoluteHexFile& reader, const TImageSource& source) {
    return source.Snapshot ? reader.OpenSnapshot(source.Snapshot)
                           : reader.Open(source.FileName, hmProgram, false);
}

std::optional<TFlashOutcome> CheckImage(TAbsoluteHexFile& reader, const TImageSource& source) {
    const THexResult opened = OpenImageSource(reader, source);
    if (opened != hrOK) {
        TFlashOutcome outcome = ImageErrorOutcome(opened);
        outcome.Detail = ImageErrorDetail(reader, source, opened);
        outcome.Advice = reader.Advice();
        return outcome;
    }
    // Nothing to send: not even the opening command, and never a lone size header.
    if (!reader.HoldsData()) {
        const std::shared_ptr<TImageSnapshot> snapshot = reader.Snapshot();
        const bool emptyFile = snapshot && snapshot->InMemory() && snapshot->Bytes().empty();
        return OutcomeOf(TOutcomeKind::okEmptyImage, hrOK,
                         emptyFile ? QStringLiteral("The image file is empty.")
                                   : QStringLiteral("Image file holds no data."),
                         kCaptionError);
    }
    return std::nullopt;
}

QString CancelledText(TFlashOperation operation) {
    return operation == TFlashOperation::foProgram ? QStringLiteral("Program operation canceled")
                                                   : QStringLiteral("Verify operation canceled");
}

QString FormatBlockAddress(std::uint32_t address) {
    return QStringLiteral("0x") + UpperHex(address, 6);
}

QString CompareErrorText(const TCompareResult& result) {
    return QStringLiteral("Compare error at address 0x") + UpperHex(result.Address, 6) +
           QStringLiteral(".\nExpected: 0x") + UpperHex(result.Expected, 2) +
           QStringLiteral(".\nActual: 0x") + UpperHex(result.Actual, 2) + QStringLiteral(".");
}

TFlashEngine::TFlashEngine(TFlashTarget& target, TFlashHost& host) : FTarget(target), FHost(host) {}

TFlashOutcome TFlashEngine::Run(TFlashOperation operation, const TImageSource& source) {
    FCancelled = false;
    FLineFailure.clear();
    FBlockLength = 0;
    FBlockAddress = 0;
    FCompare = TCompareResult{};
    FOpened = false;
    FBytesSent = 0;
    FBytesTotal = 0;
    FLastByte = 0;
    FUnconfirmedLastByte.reset();
    FDoubt.clear();
    FMismatch = false;
    FVerifyInDoubt = false;
    FClock.invalidate();

    std::unique_ptr<TAbsoluteHexFile> reader = CreateImageReader(source);
    if (!reader) {
        const TFlashOutcome outcome = ImageErrorOutcome(hrCannotOpenFile);
        FHost.ReportOutcome(outcome);
        return outcome;
    }

    TFlashOutcome outcome;
    if (std::optional<TFlashOutcome> refused = CheckImage(*reader, source)) {
        reader->Close();
        outcome = std::move(*refused);
    } else {
        FBytesTotal = reader->DataSize();
        // The read-back reads the very bytes that were sent, in the format they were read as.
        TImageSource sent = source;
        sent.Format = reader->ReadsAs();
        if (const std::shared_ptr<TImageSnapshot> snapshot = reader->Snapshot())
            sent.Snapshot = snapshot;
        FHost.TransferStarting();
        FClock.start();
        outcome = Transfer(operation, *reader);
        if (outcome.Kind == TOutcomeKind::okImageError) {
            outcome.Detail = ImageErrorDetail(*reader, source, outcome.ImageResult);
            outcome.Advice = reader->Advice();
        } else if (outcome.Kind == TOutcomeKind::okProgramDone && !FDoubt.isEmpty())
            outcome = ProveProgram(std::move(outcome), sent);
        else if (FVerifyInDoubt)
            outcome = ReadBack(sent); // once more: the first pass's answers could not be matched
    }
    outcome.ReadAs = reader->ReadsAs();
    outcome.ImageNote = reader->Note();
    reader.reset(); // closed and gone before the user hears of the outcome
    FHost.ReportOutcome(outcome);
    return outcome;
}

TFlashOutcome TFlashEngine::Transfer(TFlashOperation operation, TAbsoluteHexFile& reader) {
    const bool verify = operation == TFlashOperation::foVerify;
    std::uint8_t record[kMaxBlockLength];
    std::uint32_t recordAddress = 0;
    std::uint16_t recordLength = 0;
    THexResult result = hrOK;
    const auto readNext = [&] {
        return CheckAgainstMeasure(reader,
                                   reader.ReadBlock(recordAddress, record, recordLength, kMaxBlockLength));
    };
    {
        TProcessPriorityBoost boost;
        TEventLoopWaits loopWaits;

        FTarget.BeginRun();
        if (verify) {
            FCompare.CompareOK = true;
            FOpened = Issue([this] { return FTarget.ResetFlash(); });
        } else {
            FOpened = Issue([this] { return FTarget.InitFlash(); });
        }

        result = readNext();
        if (result == hrOK && !FCancelled && !FHost.StopRequested()) {
            FBlockAddress = recordAddress;
            std::memcpy(FBlock, record, recordLength);
            FBlockLength = recordLength;
        }

        for (;;) {
            result = readNext();
            if (result != hrOK || FCancelled || FHost.StopRequested() || (verify && !FCompare.CompareOK))
                break;
            // Program keeps a block below 200 bytes; Verify may fill it to exactly 200.
            const std::uint32_t gathered = FBlockLength + recordLength;
            const bool full = verify ? gathered > kMaxBlockLength : gathered >= kMaxBlockLength;
            if (full || FBlockAddress + FBlockLength != recordAddress) {
                // Zero-length deliveries (read past an end record) never become a command of their own.
                if (FBlockLength != 0) {
                    // The host's events are served once a block. A target that waited for its answer
                    // in the event loop has served them while the line was busy; a pass here, between
                    // the board's prompt and the next command, would only cost the line its time.
                    if (!loopWaits.Take())
                        FHost.ProcessMessages();
                    SendBlock(operation);
                }
                FBlockLength = 0;
                FBlockAddress = recordAddress;
            }
            if (!FCancelled) {
                std::memcpy(FBlock + FBlockLength, record, recordLength);
                FBlockLength += recordLength;
            }
        }

        if (FBlockLength != 0 && !FCancelled && result == hrEndOfFile && (!verify || FCompare.CompareOK)) {
            SendBlock(operation);
        }
        // Success is reported only for a board that owes nothing and sent nothing unasked.
        const bool finished =
            !FCancelled && !FHost.StopRequested() && result == hrEndOfFile && (!verify || FCompare.CompareOK);
        const bool closed = finished && FTarget.CloseRun();
        if (finished && !closed)
            NoteLineFailure();
        else if (closed && verify && !FTarget.OrderInDoubt().isEmpty()) {
            FLineFailure = FTarget.OrderInDoubt();
            FVerifyInDoubt = true;
        }
        // A mismatch the board reported anywhere in a Verify is a mismatch, whatever took its place and
        // however the run ended.
        if (verify && !FMismatch && FTarget.StrayMismatch(FCompare))
            FMismatch = true;
        // A Program that did not close on a board without echo: its confirmations stand only if a
        // closing ping shows that no answer was left over (one taken by the wrong block would be).
        if (!verify && !closed && !FTarget.AnswersInStep() && FTarget.OrderInDoubt().isEmpty() &&
            (finished || !FTarget.CloseRun()) && FTarget.OrderInDoubt().isEmpty())
            FDoubt =
                QStringLiteral("The board does not echo its commands, and its answers could not be shown to "
                               "belong to the blocks they confirmed.");
        if (!verify && FDoubt.isEmpty())
            FDoubt =
                !FTarget.MayHaveDoneOther().isEmpty() ? FTarget.MayHaveDoneOther() : FTarget.OrderInDoubt();
    }
    reader.Close();
    TFlashOutcome outcome = Outcome(operation, result);
    outcome.BytesSent = FBytesSent;
    outcome.ElapsedMs = FClock.elapsed();
    if (!verify && outcome.Kind != TOutcomeKind::okProgramDone)
        outcome.FlashState = FlashStateText();
    return outcome;
}

bool TFlashEngine::Issue(const std::function<bool()>& command) {
    for (;;) {
        const bool ok = command();
        if (ok || FCancelled)
            return ok;
        // A line that failed cannot be mended by a retry: nothing more is sent.
        if (FTarget.LineFailed()) {
            NoteLineFailure();
            FCancelled = true;
            return false;
        }
        // Cancel ends the run here: no last erase or write that the user has just declined.
        if (!FHost.AskRetry()) {
            FCancelled = true;
            return false;
        }
    }
}

bool TFlashEngine::SendBlock(TFlashOperation operation) {
    FHost.ShowBlockAddress(FBlockAddress);
    const auto length = static_cast<std::uint16_t>(FBlockLength);
    const bool accepted =
        operation == TFlashOperation::foVerify
            ? Issue([&] { return FTarget.VerifyBlock(FBlockAddress, FBlock, length, FCompare); })
            : Issue([&] { return FTarget.ProgramBlock(FBlockAddress, FBlock, length); });
    if (accepted && operation == TFlashOperation::foVerify && !FCompare.CompareOK)
        FMismatch = true;
    // A block that compared wrong was answered, but not confirmed; one that failed moves nothing.
    if (accepted && (operation != TFlashOperation::foVerify || FCompare.CompareOK)) {
        FBytesSent += length;
        FLastByte = FBlockAddress + length - 1;
        FHost.ShowProgress(FBytesSent, FBytesTotal);
        FUnconfirmedLastByte.reset();
    } else if (!accepted && operation == TFlashOperation::foProgram) {
        FUnconfirmedLastByte = FBlockAddress + length - 1;
    }
    return accepted;
}

void TFlashEngine::NoteLineFailure() {
    FLineFailure = FTarget.LastFailure();
    if (FLineFailure.isEmpty())
        FLineFailure = QStringLiteral("The board's answers could not be accounted for.");
}

TFlashOutcome TFlashEngine::ReadBack(const TImageSource& source) {
    std::unique_ptr<TAbsoluteHexFile> reader = CreateImageReader(source);
    if (!reader || OpenImageSource(*reader, source) != hrOK)
        return ImageErrorOutcome(hrImageChanged);
    FBytesSent = 0;
    FCompare = TCompareResult{};
    FMismatch = false;
    FVerifyInDoubt = false;
    FLineFailure.clear();
    FCancelled = false;
    TFlashOutcome outcome = Transfer(TFlashOperation::foVerify, *reader);
    outcome.ElapsedMs = FClock.elapsed();
    return outcome;
}

TFlashOutcome TFlashEngine::ProveProgram(TFlashOutcome programmed, const TImageSource& source) {
    const std::uint64_t programmedBytes = FBytesSent;
    TFlashOutcome proof = ReadBack(source);
    if (FVerifyInDoubt)
        proof = ReadBack(source); // once more, as a Verify in doubt does
    if (proof.Kind == TOutcomeKind::okCompareDone) {
        programmed.ElapsedMs = FClock.elapsed();
        return programmed;
    }
    // Whatever ended the read-back, what the board holds is not known to be the image.
    proof.Text.replace(CancelledText(TFlashOperation::foVerify), CancelledText(TFlashOperation::foProgram));
    proof.BytesSent = programmedBytes;
    proof.FlashState = FlashStateText();
    return proof;
}

// Only a Program that erased the chip and did not finish leaves the FLASH in a state worth naming.
QString TFlashEngine::FlashStateText() const {
    // Nothing that was confirmed can be vouched for.
    if (!FDoubt.isEmpty())
        return FDoubt +
               QStringLiteral(" The FLASH may hold wrong data anywhere; erase it and program it again.");
    // A block whose answer never came (a time-out, a lost line, Ctrl-C during the wait) may have been
    // written all the same: the FLASH state names it rather than claim it is not there.
    const QString unconfirmed =
        FUnconfirmedLastByte
            ? QStringLiteral(" The block up to %1 went out unconfirmed: it may be written in part, or "
                             "elsewhere if the line changed it.")
                  .arg(FormatBlockAddress(*FUnconfirmedLastByte))
            : QString();
    if (FBytesSent != 0)
        return QStringLiteral("The FLASH holds the image only up to %1.").arg(FormatBlockAddress(FLastByte)) +
               unconfirmed;
    if (FUnconfirmedLastByte)
        return QStringLiteral("The FLASH was erased; nothing was confirmed.") + unconfirmed;
    // An opening command that failed may still have erased the chip before its answer was lost.
    return FOpened ? QStringLiteral("The FLASH was erased; nothing was programmed.")
                   : QStringLiteral("The FLASH may have been erased; nothing was programmed.");
}

TFlashOutcome TFlashEngine::Outcome(TFlashOperation operation, THexResult lastResult) const {
    const bool program = operation == TFlashOperation::foProgram;
    TFlashOutcome outcome;
    // The board was checked and is known bad: that outranks how the run ended.
    if (!program && FMismatch)
        outcome =
            OutcomeOf(TOutcomeKind::okCompareError, lastResult, CompareErrorText(FCompare), kCaptionError);
    else if (!FLineFailure.isEmpty())
        outcome = OutcomeOf(
            TOutcomeKind::okLineFailure, lastResult,
            QStringLiteral("Communication failure! %1\n%2").arg(FLineFailure, CancelledText(operation)),
            kCaptionError);
    else if (FCancelled || FHost.StopRequested())
        outcome = OutcomeOf(TOutcomeKind::okCancelled, lastResult, CancelledText(operation), kCaptionMessage);
    else if (!program && !FCompare.CompareOK)
        outcome =
            OutcomeOf(TOutcomeKind::okCompareError, lastResult, CompareErrorText(FCompare), kCaptionError);
    else if (lastResult != hrEndOfFile)
        outcome = ImageErrorOutcome(lastResult);
    else if (program)
        outcome = OutcomeOf(TOutcomeKind::okProgramDone, lastResult, QStringLiteral("Program OK!"),
                            kCaptionMessage);
    else
        outcome = OutcomeOf(TOutcomeKind::okCompareDone, lastResult, QStringLiteral("Compare OK!"),
                            kCaptionMessage);
    outcome.Compare = FCompare;
    return outcome;
}
