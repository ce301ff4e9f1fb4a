#include "app/windowflashhost.h"

#include "dialogs/comm_interface.h"
#include "dialogs/hexfiles_box.h"
#include "dialogs/velummessagebox.h"
#include "skin/suimessagedialog.h"

#include <QApplication>
#include <QLocale>

namespace {

// The detail of a refused image, with the window's format choice to make instead.
QString WindowImageDetail(const TFlashOutcome& outcome) {
    switch (outcome.Advice) {
    case TFormatAdvice::None:
        break;
    case TFormatAdvice::LinearRecords:
        return outcome.Detail + QStringLiteral(" (records 04/05 need the Auto-detect format)");
    case TFormatAdvice::RawOrSegments:
    case TFormatAdvice::RawOrRecords:
    case TFormatAdvice::Raw:
        return outcome.Detail + QStringLiteral("; choose Binary to send its bytes raw");
    }
    return outcome.Detail;
}

// The time left is rewritten at most this often: a changing second is enough to read.
constexpr qint64 kTimeLeftRefreshMs = 1000;

// The prompt's fixed text, and below it what the board did: a person can then tell a wrong address
// from a loose cable. A board that answered and refused is not a line fault, and says why.
QString RetryText(const QString& failure, bool refused) {
    QString text = refused ? QStringLiteral("The board refused the command.")
                           : QStringLiteral("Communication error occurred!\nSome data may be lost.");
    if (!failure.isEmpty())
        text += QLatin1Char('\n') + failure;
    return text;
}

QString Seconds(qint64 milliseconds) {
    return QStringLiteral("%1 s").arg(double(milliseconds) / 1000.0, 0, 'f', 1);
}

// "1 retry", "3 retries".
QString Retries(int retries) {
    return retries == 1 ? QStringLiteral("1 retry") : QStringLiteral("%1 retries").arg(retries);
}

QString AfterRetries(int retries) {
    return retries > 0 ? QStringLiteral(" after ") + Retries(retries) : QString();
}

QString Rate(std::uint64_t bytes, qint64 milliseconds) {
    if (milliseconds <= 0)
        return QString();
    return QStringLiteral(" (%1 B/s)")
        .arg(QLocale(QLocale::English).toString(qulonglong(bytes * 1000 / qulonglong(milliseconds))));
}

} // namespace

QString RunSummary(std::uint64_t bytes, qint64 milliseconds, int retries) {
    return QStringLiteral("%1 bytes in %2")
               .arg(QLocale(QLocale::English).toString(qulonglong(bytes)), Seconds(milliseconds)) +
           Rate(bytes, milliseconds) + AfterRetries(retries);
}

QString PassesSummary(std::uint64_t programmed, std::uint64_t verified, qint64 milliseconds, int retries) {
    const QLocale numbers(QLocale::English);
    return QStringLiteral("%1 bytes programmed and %2 verified in %3")
               .arg(numbers.toString(qulonglong(programmed)), numbers.toString(qulonglong(verified)),
                    Seconds(milliseconds)) +
           Rate(programmed + verified, milliseconds) + AfterRetries(retries);
}

qint64 TransferPart(qint64 elapsedMs, qint64 questionsMs) {
    return std::max<qint64>(0, elapsedMs - questionsMs);
}

std::optional<qint64> TimeLeftMs(qint64 transferMs, std::uint64_t bytesSent, std::uint64_t bytesTotal) {
    if (transferMs < TWindowFlashHost::kTimeLeftAfterMs || bytesSent == 0 || bytesSent >= bytesTotal)
        return std::nullopt;
    return qint64(double(transferMs) * double(bytesTotal - bytesSent) / double(bytesSent));
}

TWindowFlashHost::TWindowFlashHost(TRunView& view, TRunTally& tally, const TCommInterface& line, bool verify,
                                   bool holdSuccess, const TFlashOutcome* programmed)
    : FView(view), FTally(tally), FLine(line), FVerify(verify), FHoldSuccess(holdSuccess),
      FProgrammed(programmed) {}

bool TWindowFlashHost::AskRetry() {
    ShowPendingAddress(); // the block in trouble
    const QString failure = FLine.LastFailure();
    if (!FView.PortOpen()) {
        // The device has gone: a retry could only fail at once. Say so, and no Retry.
        QApplication::beep();
        FView.ShowDisconnected();
        TVelumMessageBox box(DeepBlue);
        box.ShowOneButton(RetryText(failure, false) +
                              QStringLiteral("\n%1 has gone away; the run ends here.").arg(FLine.ShownPort()),
                          QStringLiteral("Tervolt Error"), suiStop, QStringLiteral("Ok"), mrOk);
        return false;
    }
    // As often as the COM settings say, without a word; the outcome counts them. A refusal would
    // only come again: it is asked at once.
    const bool refused = FLine.BoardRefused();
    if (!refused && FFailures < FLine.AutoRetries() && !FView.StopRequested()) {
        ++FFailures;
        ++FTally.Retries;
        return true;
    }
    QApplication::beep();
    TVelumMessageBox box(DeepBlue);
    // A refusal would most likely come again at once: Enter cancels it.
    if (refused)
        box.Dialog()->SetDefaultButton(2);
    // Only Cancel cancels; closing the box counts as Cancel too (it returns mrCancel). The time the
    // box is up is no transfer time.
    const TQuestionTime asking(FTally);
    const bool retry =
        box.ShowTwoButtons(RetryText(failure, refused), QStringLiteral("Tervolt Error"), suiStop,
                           QStringLiteral("Retry"), mrRetry, QStringLiteral("Cancel"), mrCancel) != mrCancel;
    if (retry) {
        ++FTally.Retries;
        FFailures = 0;
    }
    return retry;
}

// The label and the bar are touched only when what they show changes, and the label at most every
// kAddressRefreshMs: at fast rates a block takes a few milliseconds, each repaint of the label costs
// the line a fraction of one, and nobody reads addresses at that pace. The last one is always shown.
void TWindowFlashHost::ShowBlockAddress(std::uint32_t address) {
    FFailures = 0; // each block's command has its own automatic retries
    FPendingAddressText = FormatBlockAddress(address);
    if (!FAddressShown.isValid() || FAddressShown.elapsed() >= kAddressRefreshMs)
        ShowPendingAddress();
}

void TWindowFlashHost::ShowPendingAddress() {
    if (FPendingAddressText.isEmpty() || FPendingAddressText == FLastAddressText)
        return;
    FAddressShown.start();
    FLastAddressText = FPendingAddressText;
    FView.ShowBlockAddress(FLastAddressText);
}

void TWindowFlashHost::TransferStarting() {
    FClock.start();
    FQuestionMsAtStart = FTally.QuestionMs;
    FFailures = 0;
    // Only now, with the image accepted, does the window look like a run.
    FLastPercent = FTally.Percent(0);
    FView.ShowRunStarted(FVerify, FLastPercent);
}

void TWindowFlashHost::ShowProgress(std::uint64_t bytesSent, std::uint64_t bytesTotal) {
    if (bytesTotal == 0)
        return;
    ShowTimeLeft(bytesSent, bytesTotal);
    // One bar over all passes of the Start, and the title says what the bar says.
    // Never back: a Program read back (a board without echo) counts up from nought again.
    const int percent = FTally.Percent(int(bytesSent * 100 / bytesTotal));
    if (percent <= FLastPercent)
        return;
    FLastPercent = percent;
    FView.ShowRunPercent(percent);
}

qint64 TWindowFlashHost::TransferMs() const {
    return FClock.isValid() ? TransferPart(FClock.elapsed(), FTally.QuestionMs - FQuestionMsAtStart) : 0;
}

void TWindowFlashHost::ShowTimeLeft(std::uint64_t bytesSent, std::uint64_t bytesTotal) {
    const qint64 elapsed = TransferMs();
    if (FTimeLeftShownMs >= 0 && elapsed - FTimeLeftShownMs < kTimeLeftRefreshMs)
        return;
    // The passes still to come go at the rate of this one.
    const auto passes = std::uint64_t(FTally.Passes);
    const std::uint64_t done = std::uint64_t(FTally.Pass) * bytesTotal + bytesSent;
    const std::optional<qint64> left = TimeLeftMs(FTally.DoneTransferMs + elapsed, done, passes * bytesTotal);
    if (!left) {
        if (FTimeLeftShownMs >= 0)
            FView.ShowLineStatus(); // an estimate that cannot be known is not shown
        FTimeLeftShownMs = -1;
        return;
    }
    FTimeLeftShownMs = elapsed;
    FView.ShowTimeLeft(QStringLiteral("About %1 left").arg(Seconds(*left)));
}

void TWindowFlashHost::ProcessMessages() {
    QCoreApplication::processEvents();
}

bool TWindowFlashHost::StopRequested() {
    return FView.StopRequested();
}

void TWindowFlashHost::ReportOutcome(const TFlashOutcome& outcome) {
    ShowPendingAddress();
    FTally.DoneTransferMs += TransferMs();
    // No time left once the run is over: the status says where the line stands.
    FView.ShowLineStatus();
    // A device that went away during the run: the status says so before the box does.
    if (!FView.PortOpen())
        FView.ShowDisconnected();
    TsuiIconType icon = suiInformation;
    QString text = outcome.Text;
    switch (outcome.Kind) {
    case TOutcomeKind::okImageError:
        // An image that changed during a Program has left the FLASH half-written: that goes below too.
        ShowHexFileError(outcome.ImageResult, QStringLiteral("Tervolt Error"),
                         outcome.FlashState.isEmpty()
                             ? WindowImageDetail(outcome)
                             : WindowImageDetail(outcome) + QLatin1Char('\n') + outcome.FlashState);
        return;
    case TOutcomeKind::okEmptyImage:
    case TOutcomeKind::okCompareError:
    case TOutcomeKind::okLineFailure:
        icon = suiStop;
        break;
    case TOutcomeKind::okProgramDone:
    case TOutcomeKind::okCompareDone:
        if (FHoldSuccess)
            return;
        text += QLatin1Char('\n') +
                RunSummary(outcome.BytesSent, outcome.ElapsedMs + (FProgrammed ? FProgrammed->ElapsedMs : 0),
                           FTally.Retries) +
                QLatin1Char('\n') + FView.RunPlace(QStringLiteral("\n")); // the box is narrow
        // What went to the FLASH beyond the program's own bytes (an ELF file's headers) is said.
        if (!outcome.ImageNote.isEmpty())
            text += QLatin1Char('\n') + outcome.ImageNote;
        break;
    case TOutcomeKind::okCancelled:
        break;
    }
    if (FProgrammed != nullptr)
        text = FProgrammed->Text + QLatin1Char('\n') + text;
    // A success names its retries with what was done; any other end says them on a line of its own.
    if (outcome.Kind != TOutcomeKind::okProgramDone && outcome.Kind != TOutcomeKind::okCompareDone &&
        FTally.Retries > 0)
        text += QLatin1Char('\n') + QStringLiteral("After %1.").arg(Retries(FTally.Retries));
    // A Program that did not finish has left the FLASH erased or half-written: a warning, and what it holds.
    if (!outcome.FlashState.isEmpty()) {
        icon = suiWarning;
        text += QLatin1Char('\n') + outcome.FlashState;
    }
    TVelumMessageBox box(DeepBlue);
    box.ShowOneButton(text, outcome.Caption, icon, QStringLiteral("Ok"), mrOk);
}
