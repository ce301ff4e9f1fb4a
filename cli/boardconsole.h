#pragma once
// Standard error while several boards run: on a terminal one live line a board (port, bar,
// percentage, block address, rate, state), redrawn by the main thread; otherwise plain lines at 10 %
// steps prefixed with the port, written as they happen. Notes (diagnostics, the give-up message) are
// prefixed with the port and never torn apart by another board's line.

#include "cli/boardrun.h"
#include "cli/terminalhost.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class TBoardConsole {
public:
    // `show`: progress at all (--quiet turns it off; notes are always written).
    TBoardConsole(const QStringList& ports, bool show, bool terminal);

    // From the boards' threads.
    void Show(int board, int percent, std::uint32_t address, double bytesPerSecond);
    void SetState(int board, const QString& state);
    void Note(int board, const QString& text);
    // Starts a board's next operation at 0 %.
    void Restart(int board);

    // From the main thread: redraws the live lines (a terminal only).
    void Refresh();
    // The last redraw; the lines stay as they are.
    void Finish();

private:
    struct TBoardLine {
        QString Port;
        int Percent = 0;
        std::uint32_t Address = 0;
        double Rate = 0;
        QString State = QStringLiteral("waiting");
        int LastPrinted = -1;
        bool Transferring = false;
    };
    void Draw();

    std::mutex FMutex;
    std::vector<TBoardLine> FLines;
    QStringList FPendingNotes; // a terminal: written above the live lines at the next redraw
    int FPortWidth = 0;
    bool FShow;
    bool FTerminal;
    bool FDrawn = false;
};

// One board's output into the console; its outcome lines are kept for the summary.
class TConsoleBoardOutput : public TBoardOutput, private TProgressDisplay {
public:
    TConsoleBoardOutput(TBoardConsole& console, int board) : FConsole(console), FBoard(board) {}

    void Line(const QString&) override {}
    void Error(const QString& text) override { FConsole.Note(FBoard, text); }
    void State(const QString& state) override { FConsole.SetState(FBoard, state); }
    TProgressDisplay& BeginTransfer(const QString& operation) override;

private:
    void Show(int percent, std::uint32_t address, double bytesPerSecond) override;
    void Note(const QString& text) override { FConsole.Note(FBoard, text); }
    void Finish() override {}

    TBoardConsole& FConsole;
    int FBoard;
};
