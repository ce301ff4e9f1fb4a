#include "app/windowflashhost.h"

#include "app/tervolt_mainform.h"
#include "dialogs/velummessagebox.h"
#include "dialogs/hexfiles_box.h"
#include "dialogs/comm_interface.h"
#include "ui_tervolt_mainform.h"

#include <QApplication>

namespace {

// The prompt's fixed text, and below it what the board did: a person can then tell a wrong address
// from a loose cable.
QString RetryText(const QString& failure) {
    QString text = QStringLiteral("Communication error occurred!\nSome data may be lost.");
    if (!failure.isEmpty())
        text += QLatin1Char('\n') + failure;
    return text;
}

} // namespace

TWindowFlashHost::TWindowFlashHost(TFormTervolt& form)
    : FForm(form), FLastPercent(form.FUi->CGaugeProgressBar->value()),
      FLastAddressText(form.FUi->LabelAddressNumber->text()) {}

bool TWindowFlashHost::AskRetry() {
    ShowPendingAddress(); // the block in trouble
    QApplication::beep();
    TVelumMessageBox box(DeepBlue);
    // Only Cancel cancels; closing the box counts as Cancel too (it returns mrCancel).
    return box.ShowTwoButtons(RetryText(FForm.FCommInterface->LastFailure()), QStringLiteral("Tervolt Error"),
                              suiStop, QStringLiteral("Retry"), mrRetry, QStringLiteral("Cancel"),
                              mrCancel) != mrCancel;
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

void TWindowFlashHost::ShowProgress(int percent) {
    if (percent == FLastPercent)
        return;
    FLastPercent = percent;
    FForm.FUi->CGaugeProgressBar->SetValueDeferred(percent);
}

void TWindowFlashHost::ProcessMessages() {
    QCoreApplication::processEvents();
}

bool TWindowFlashHost::StopRequested() {
    return FForm.FStopRequested;
}

void TWindowFlashHost::ReportOutcome(const TFlashOutcome& outcome) {
    ShowPendingAddress();
    // Good news and a deliberate stop inform; a mismatch or an unusable image is an error.
    TsuiIconType icon = suiInformation;
    switch (outcome.Kind) {
    case TOutcomeKind::okImageError:
        ShowHexFileError(outcome.ImageResult, QStringLiteral("Tervolt Error"), outcome.Detail);
        return;
    case TOutcomeKind::okEmptyImage:
    case TOutcomeKind::okCompareError:
    case TOutcomeKind::okLineFailure:
        icon = suiStop;
        break;
    case TOutcomeKind::okProgramDone:
    case TOutcomeKind::okCompareDone:
    case TOutcomeKind::okCancelled:
        break;
    }
    TVelumMessageBox box(DeepBlue);
    box.ShowOneButton(outcome.Text, outcome.Caption, icon, QStringLiteral("Ok"), mrOk);
}
