#include "app/windowflashhost.h"

#include "app/tervolt_mainform.h"
#include "dialogs/velummessagebox.h"
#include "image/hexfiles_box.h"
#include "ui_tervolt_mainform.h"

#include <QApplication>

bool TWindowFlashHost::AskRetry() {
    QApplication::beep();
    TVelumMessageBox box(DeepBlue);
    // Only Cancel cancels; closing the box counts as Cancel too (it returns mrCancel).
    return box.ShowTwoButtons(QStringLiteral("Communication error occurred!\nSome data may be lost."),
                              QStringLiteral("Tervolt Error"), suiStop, QStringLiteral("Retry"), mrRetry,
                              QStringLiteral("Cancel"), mrCancel) != mrCancel;
}

void TWindowFlashHost::ShowBlockAddress(std::uint32_t address) {
    FForm.FUi->LabelAddressNumber->setText(FormatBlockAddress(address));
}

void TWindowFlashHost::ShowProgress(int percent) {
    FForm.FUi->CGaugeProgressBar->setValue(percent);
}

void TWindowFlashHost::ProcessMessages() {
    QCoreApplication::processEvents();
}

bool TWindowFlashHost::StopRequested() {
    return FForm.FStopRequested;
}

void TWindowFlashHost::ReportOutcome(const TFlashOutcome& outcome) {
    TsuiIconType icon = suiInformation;
    switch (outcome.Kind) {
    case TOutcomeKind::okImageError:
        ShowHexFileError(outcome.ImageResult, QStringLiteral("Tervolt Error"), outcome.Detail);
        return;
    case TOutcomeKind::okEmptyImage:
        icon = suiStop;
        break;
    case TOutcomeKind::okProgramDone:
    case TOutcomeKind::okCompareDone:
    case TOutcomeKind::okCancelled:
    case TOutcomeKind::okCompareError:
        break;
    }
    TVelumMessageBox box(DeepBlue);
    box.ShowOneButton(outcome.Text, outcome.Caption, icon, QStringLiteral("Ok"), mrOk);
}
