#pragma once
// The main window as the host of a Program or Verify run: it asks Retry/Cancel in the message box
// (with what the board did below the question), shows the block address and the percentage in its
// controls and pumps its messages once per record.

#include "engine/flashengine.h"

#include <QElapsedTimer>
#include <QString>

class TFormTervolt;

class TWindowFlashHost : public TFlashHost {
public:
    static constexpr qint64 kAddressRefreshMs = 100;

    explicit TWindowFlashHost(TFormTervolt& form);

    bool AskRetry() override;
    void ShowBlockAddress(std::uint32_t address) override;
    void ShowProgress(int percent) override;
    void ProcessMessages() override;
    bool StopRequested() override;
    void ReportOutcome(const TFlashOutcome& outcome) override;

private:
    void ShowPendingAddress();

    TFormTervolt& FForm;
    int FLastPercent;
    QString FLastAddressText;
    QString FPendingAddressText;
    QElapsedTimer FAddressShown;
};
