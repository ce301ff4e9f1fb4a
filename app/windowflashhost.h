#pragma once
// The main window as the host of a Program or Verify run: it sends a failed command again as often
// as the COM settings say, then asks Retry/Cancel in the message box (with what the board did below
// the question), shows the run once the image was accepted, the block address, the percentage of the
// bytes of all passes (on the one bar and in the window title) and the time left, pumps its messages once per
// block when the wait for the last answer did not, and tells the outcome with what was done: bytes,
// time, rate, port and chip.

#include "app/runview.h"
#include "engine/flashengine.h"

#include <QElapsedTimer>
#include <QString>

#include <optional>

class TCommInterface;

// What was done, as the outcome box says it below "Program OK!": "20,480 bytes in 2.1 s (9,752 B/s)",
// and " after 3 retries" when commands were sent again; port and rate ("COM2 at 115200 baud") and the
// chip follow on lines of their own.
QString RunSummary(std::uint64_t bytes, qint64 milliseconds, int retries = 0);
// Program and Verify in one Start: "2,048 bytes programmed and 384 verified in 4.9 s (496 B/s)".
QString PassesSummary(std::uint64_t programmed, std::uint64_t verified, qint64 milliseconds, int retries);

// Of `elapsedMs` since a transfer began, the part that was transfer: the time questions were up is not.
qint64 TransferPart(qint64 elapsedMs, qint64 questionsMs);
// The time a transfer still needs at the rate it has had so far, from `transferMs` of transfer alone
// (TransferPart); nothing while the rate has not settled or nothing is left to send.
std::optional<qint64> TimeLeftMs(qint64 transferMs, std::uint64_t bytesSent, std::uint64_t bytesTotal);

class TWindowFlashHost : public TFlashHost {
public:
    static constexpr qint64 kAddressRefreshMs = 100;
    // The time left is shown once the rate has settled.
    static constexpr qint64 kTimeLeftAfterMs = 2000;

    // `view` shows the run, `tally` counts over all passes of the Start, `line` has the retries and
    // what the board did. `verify`: the pass this host shows. `holdSuccess`: a successful outcome is
    // not shown (a Verify follows). `programmed`: the Program pass this Verify follows; its text and
    // time go into the one box at the end.
    TWindowFlashHost(TRunView& view, TRunTally& tally, const TCommInterface& line, bool verify,
                     bool holdSuccess = false, const TFlashOutcome* programmed = nullptr);

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
    // Time this pass has spent on its transfer, questions left out.
    qint64 TransferMs() const;

    TRunView& FView;
    TRunTally& FTally;
    const TCommInterface& FLine;
    bool FVerify;
    bool FHoldSuccess;
    const TFlashOutcome* FProgrammed;
    int FLastPercent = -1;
    int FFailures = 0; // failures of the present command sent again without asking
    QString FLastAddressText;
    QString FPendingAddressText;
    QElapsedTimer FAddressShown;
    QElapsedTimer FClock;
    qint64 FQuestionMsAtStart = 0; // the tally's question time when the transfer started
    qint64 FTimeLeftShownMs = -1;
};
