#include "app/windowrunlook.h"

#include "ui_tervolt_mainform.h"

void ShowRunLook(Ui::FormTervolt& ui, bool verify, int percent) {
    ui.BitBtnStart->hide();
    ui.BitBtnStop->show();
    ui.BitBtnStop->setFocus(Qt::OtherFocusReason);
    ui.LabelMode->setText(verify ? QStringLiteral("Verifying...") : QStringLiteral("Programming..."));
    ui.LabelAddress->setText(QStringLiteral("Address:"));
    ShowRunPercentLook(ui, percent);
    ui.CGaugeProgressBar->show();
}

void ShowRunPercentLook(Ui::FormTervolt& ui, int percent) {
    ui.CGaugeProgressBar->SetValueDeferred(percent);
    // In the title bar, and in the task bar while the window is hidden behind others.
    ui.Tervolt->SetCaption(QStringLiteral("%1 % \u2013 Tervolt").arg(percent));
}

void ClearRunLabels(Ui::FormTervolt& ui) {
    ui.LabelMode->clear();
    ui.LabelAddress->clear();
    ui.LabelAddressNumber->clear();
}

void ShowIdleLook(Ui::FormTervolt& ui, const QString& title) {
    ClearRunLabels(ui);
    ui.Tervolt->SetCaption(title); // and the window system's title with it
    ui.BitBtnStop->hide();
    ui.BitBtnStart->show();
    ui.BitBtnStart->setEnabled(true);
}
