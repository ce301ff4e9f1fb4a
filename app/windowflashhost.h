#pragma once
// The main window as the host of a Program or Verify run: it asks Retry/Cancel in the message box
// (with what the board did below the question), shows the block address, the percentage of the
// image's bytes (on the bar and in the window title) and the time left, pumps its messages once per
// block when the wait for the last answer did not, and tells the outcome with what was done: bytes,
// time, rate, port and chip.

#include "engine/flashengine.h"

#include <QElapsedTimer>
#include <QString>

class TFormTervolt;

// What was done, as the outcome box says it below "Program OK!": "20,480 bytes in 2.1 s (9,752 B/s)";
// port and rate ("COM2 at 115200 baud") and the chip follow on lines of their own.
QString RunSummary(std::uint64_t bytes, qint64 milliseconds);

class TWindowFlashHost : public TFlashHost {
public:
    static constexpr qint64 kAddressRefreshMs = 100;
    // The time left is shown once the rate has settled.
    static constexpr qint64 kTimeLeftAfterMs = 2000;

    // `holdSuccess`: a successful outcome is not shown (a Verify follows). `programmed`: the Program
    // pass this Verify follows; its text and time go into the one box at the end.
    TWindowFlashHost(TFormTervolt& form, bool holdSuccess = false, const TFlashOutcome* programmed = nullptr);

    bool AskRetry() override;
    void ShowBlockAddress(std::uint32_t address) override;
    void ShowProgress(std::uint64_t bytesSent, std::uint64_t bytesTotal) override;
    void ProcessMessages() override;
    bool StopRequested() override;
    void ReportOutcome(const TFlashOutcome& outcome) override;
    void TransferStarting() override;

private:
    void ShowPendingAddress();
    void ShowTimeLeft(std::uint64_t bytesSent, std::uint64_t bytesTotal);

    TFormTervolt& FForm;
    bool FHoldSuccess;
    const TFlashOutcome* FProgrammed;
    int FLastPercent;
    QString FLastAddressText;
    QString FPendingAddressText;
    QElapsedTimer FAddressShown;
    QElapsedTimer FClock;
    qint64 FQuestionMsAtStart = 0; // the form's question time when the transfer started
    qint64 FTimeLeftShownMs = -1;
};
