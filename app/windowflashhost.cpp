#include "app/windowflashhost.h"

#include "app/tervolt_mainform.h"
#include "dialogs/comm_interface.h"
#include "dialogs/hexfiles_box.h"
#include "dialogs/velummessagebox.h"
#include "ui_tervolt_mainform.h"

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
// from a loose cable.
QString RetryText(const QString& failure) {
    QString text = QStringLiteral("Communication error occurred!\nSome data may be lost.");
    if (!failure.isEmpty())
        text += QLatin1Char('\n') + failure;
    return text;
}

QString Seconds(qint64 milliseconds) {
    return QStringLiteral("%1 s").arg(double(milliseconds) / 1000.0, 0, 'f', 1);
}

} // namespace

QString RunSummary(std::uint64_t bytes, qint64 milliseconds) {
    const QLocale numbers(QLocale::English);
    QString text =
        QStringLiteral("%1 bytes in %2").arg(numbers.toString(qulonglong(bytes)), Seconds(milliseconds));
    if (milliseconds > 0)
        text += QStringLiteral(" (%1 B/s)")
                    .arg(numbers.toString(qulonglong(bytes * 1000 / qulonglong(milliseconds))));
    return text;
}

TWindowFlashHost::TWindowFlashHost(TFormTervolt& form, bool holdSuccess, const TFlashOutcome* programmed)
    : FForm(form), FHoldSuccess(holdSuccess), FProgrammed(programmed),
      FLastPercent(form.FUi->CGaugeProgressBar->value()),
      FLastAddressText(form.FUi->LabelAddressNumber->text()) {}

bool TWindowFlashHost::AskRetry() {
    ShowPendingAddress(); // the block in trouble
    QApplication::beep();
    TVelumMessageBox box(DeepBlue);
    const QString text = RetryText(FForm.FCommInterface->LastFailure());
    if (!FForm.PortOpen()) {
        // The device has gone: a retry could only fail at once. Say so, and no Retry.
        FForm.ShowDisconnected();
        box.ShowOneButton(text +
                              QStringLiteral("\n%1 has gone away; the run ends here.").arg(FForm.ShownPort()),
                          QStringLiteral("Tervolt Error"), suiStop, QStringLiteral("Ok"), mrOk);
        return false;
    }
    // Only Cancel cancels; closing the box counts as Cancel too (it returns mrCancel). The time the
    // box is up is no transfer time.
    const TQuestionTime asking(FForm);
    return box.ShowTwoButtons(text, QStringLiteral("Tervolt Error"), suiStop, QStringLiteral("Retry"),
                              mrRetry, QStringLiteral("Cancel"), mrCancel) != mrCancel;
}

// The label and the bar are touched only when what they show changes, and the label at most every
// kAddressRefreshMs: at fast rates a block takes a few milliseconds, each repaint of the label costs
// the line a fraction of one, and nobody reads addresses at that pace. The last one is always shown.
void TWindowFlashHost::ShowBlockAddress(std::uint32_t address) {
    FPendingAddressText = FormatBlockAddress(address);
    if (!FAddressShown.isValid() || FAddressShown.elapsed() >= kAddressRefreshMs)
        ShowPendingAddress();
}

void TWindowFlashHost::ShowPendingAddress() {
    if (FPendingAddressText.isEmpty() || FPendingAddressText == FLastAddressText)
        return;
    FAddressShown.start();
    FLastAddressText = FPendingAddressText;
    FForm.FUi->LabelAddressNumber->setText(FLastAddressText);
}

void TWindowFlashHost::TransferStarting() {
    FClock.start();
    FQuestionMsAtStart = FForm.FQuestionMs;
}

void TWindowFlashHost::ShowProgress(std::uint64_t bytesSent, std::uint64_t bytesTotal) {
    if (bytesTotal == 0)
        return;
    ShowTimeLeft(bytesSent, bytesTotal);
    const int percent = int(bytesSent * 100 / bytesTotal);
    if (percent == FLastPercent)
        return;
    FLastPercent = percent;
    FForm.FUi->CGaugeProgressBar->SetValueDeferred(percent);
    // In the title bar, and in the task bar while the window is hidden behind others.
    FForm.FUi->Tervolt->SetCaption(QStringLiteral("%1 % \u2013 Tervolt").arg(percent));
}

void TWindowFlashHost::ShowTimeLeft(std::uint64_t bytesSent, std::uint64_t bytesTotal) {
    if (!FClock.isValid() || bytesSent == 0)
        return;
    // The rate of the transfer alone: the time a question was up counts for nothing.
    const qint64 elapsed = FClock.elapsed() - (FForm.FQuestionMs - FQuestionMsAtStart);
    if (elapsed < kTimeLeftAfterMs ||
        (FTimeLeftShownMs >= 0 && elapsed - FTimeLeftShownMs < kTimeLeftRefreshMs))
        return;
    FTimeLeftShownMs = elapsed;
    const auto left = qint64(double(elapsed) * double(bytesTotal - bytesSent) / double(bytesSent));
    FForm.FUi->LabelStatus->setText(QStringLiteral("About %1 left").arg(Seconds(left)));
}

void TWindowFlashHost::ProcessMessages() {
    QCoreApplication::processEvents();
}

bool TWindowFlashHost::StopRequested() {
    return FForm.FStopRequested;
}

void TWindowFlashHost::ReportOutcome(const TFlashOutcome& outcome) {
    ShowPendingAddress();
    // No time left once the run is over: the status says where the line stands.
    FForm.UpdateStatusLine();
    // A device that went away during the run: the status says so before the box does.
    if (!FForm.PortOpen())
        FForm.ShowDisconnected();
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
        text +=
            QLatin1Char('\n') +
            RunSummary(outcome.BytesSent, outcome.ElapsedMs + (FProgrammed ? FProgrammed->ElapsedMs : 0)) +
            QLatin1Char('\n') + FForm.RunPlace(QStringLiteral("\n")); // the box is narrow
        // What went to the FLASH beyond the program's own bytes (an ELF file's headers) is said.
        if (!outcome.ImageNote.isEmpty())
            text += QLatin1Char('\n') + outcome.ImageNote;
        break;
    case TOutcomeKind::okCancelled:
        break;
    }
    if (FProgrammed != nullptr)
        text = FProgrammed->Text + QLatin1Char('\n') + text;
    // A Program that did not finish has left the FLASH erased or half-written: a warning, and what it holds.
    if (!outcome.FlashState.isEmpty()) {
        icon = suiWarning;
        text += QLatin1Char('\n') + outcome.FlashState;
    }
    TVelumMessageBox box(DeepBlue);
    box.ShowOneButton(text, outcome.Caption, icon, QStringLiteral("Ok"), mrOk);
}
