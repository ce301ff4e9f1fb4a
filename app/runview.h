#pragma once
// What a Program or Verify run shows in the window and reads from it: the form implements it, the
// window's flash host drives it. The run's widgets stay the form's own.

#include <QElapsedTimer>
#include <QString>

class TRunView {
public:
    virtual ~TRunView() = default;

    // The image was accepted and the transfer of a pass begins: Stop instead of Start, the pass named,
    // the bar at `percent`.
    virtual void ShowRunStarted(bool verify, int percent) = 0;
    virtual void ShowBlockAddress(const QString& address) = 0;
    // Of the whole Start: on the bar and in the title alike.
    virtual void ShowRunPercent(int percent) = 0;
    // In the status line; ShowLineStatus gives the line back to it.
    virtual void ShowTimeLeft(const QString& text) = 0;
    // The status line as the line stands.
    virtual void ShowLineStatus() = 0;
    virtual bool PortOpen() const = 0;
    virtual void ShowDisconnected() = 0;
    // "COM2 at 115200 baud, VELUM VF040B": where the run went; `beforeChip` goes between port and chip.
    virtual QString RunPlace(const QString& beforeChip) const = 0;
    virtual bool StopRequested() const = 0;

protected:
    TRunView() = default;
    TRunView(const TRunView&) = default;
    TRunView& operator=(const TRunView&) = default;
};

// One Start over its passes (Program, then Verify with Program+Verify): one bar, one count of the
// commands sent again and one estimate of the time left go over them all.
struct TRunTally {
    int Pass = 0;              // the pass under way: 0, or 1 for the Verify of Program+Verify
    int Passes = 1;            // passes this Start
    int Retries = 0;           // commands sent again, automatically or after Retry
    qint64 DoneTransferMs = 0; // transfer time of the finished passes, questions left out
    qint64 QuestionMs = 0;     // how long questions (Stop?, Retry?) have been up

    // The share of the whole Start when the present pass stands at `passPercent`.
    int Percent(int passPercent) const { return (Pass * 100 + passPercent) / Passes; }
};

// While a question is up during a run (Stop?, Retry?): its time goes to the tally's question time, so
// that the time left is reckoned from the transfer alone.
class TQuestionTime {
public:
    explicit TQuestionTime(TRunTally& tally) : FTally(tally) { FClock.start(); }
    ~TQuestionTime() { FTally.QuestionMs += FClock.elapsed(); }
    TQuestionTime(const TQuestionTime&) = delete;
    TQuestionTime& operator=(const TQuestionTime&) = delete;

private:
    TRunTally& FTally;
    QElapsedTimer FClock;
};
