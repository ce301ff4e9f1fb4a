#include "cli/boardconsole.h"

#include "engine/flashengine.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kBarWidth = 20;
constexpr int kPlainProgressStep = 10; // percent between two lines when stderr is not a terminal

QByteArray Local(const QString& text) {
    return text.toLocal8Bit();
}

} // namespace

TBoardConsole::TBoardConsole(const QStringList& ports, bool show, bool terminal)
    : FShow(show), FTerminal(terminal) {
    for (const QString& port : ports) {
        TBoardLine line;
        line.Port = port;
        FLines.push_back(line);
        FPortWidth = std::max(FPortWidth, int(port.size()));
    }
}

void TBoardConsole::Show(int board, int percent, std::uint32_t address, double bytesPerSecond) {
    const std::lock_guard lock(FMutex);
    TBoardLine& line = FLines.at(size_t(board));
    line.Percent = percent;
    line.Address = address;
    line.Rate = bytesPerSecond;
    line.Transferring = true;
    if (!FShow || FTerminal)
        return;
    if (line.LastPrinted >= 0 && percent < line.LastPrinted + kPlainProgressStep && percent != 100)
        return;
    if (percent == line.LastPrinted)
        return;
    line.LastPrinted = percent;
    std::fprintf(stderr, "%s  %s %3d%%  %s  %.0f B/s\n", Local(line.Port).constData(),
                 Local(line.State).constData(), percent, Local(FormatBlockAddress(address)).constData(),
                 bytesPerSecond);
    std::fflush(stderr);
}

void TBoardConsole::Restart(int board) {
    const std::lock_guard lock(FMutex);
    TBoardLine& line = FLines.at(size_t(board));
    line.Percent = 0;
    line.Rate = 0;
    line.LastPrinted = -1;
}

void TBoardConsole::SetState(int board, const QString& state) {
    const std::lock_guard lock(FMutex);
    FLines.at(size_t(board)).State = state;
}

void TBoardConsole::Note(int board, const QString& text) {
    const std::lock_guard lock(FMutex);
    const QString note = QStringLiteral("tervolt-cli: %1: %2").arg(FLines.at(size_t(board)).Port, text);
    if (FTerminal && FShow) {
        FPendingNotes << note;
        return;
    }
    std::fprintf(stderr, "%s\n", Local(note).constData());
    std::fflush(stderr);
}

void TBoardConsole::Refresh() {
    const std::lock_guard lock(FMutex);
    if (FTerminal && FShow)
        Draw();
}

void TBoardConsole::Finish() {
    Refresh();
}

void TBoardConsole::Draw() {
    QByteArray out;
    // Back to the first live line; notes scroll in above the lines, which are then drawn anew.
    if (FDrawn)
        out += "\x1b[" + QByteArray::number(qsizetype(FLines.size())) + "A";
    for (const QString& note : FPendingNotes)
        out += "\r\x1b[2K" + Local(note) + "\n";
    FPendingNotes.clear();
    for (const TBoardLine& line : FLines) {
        const int filled = std::clamp(line.Percent * kBarWidth / 100, 0, kBarWidth);
        const QByteArray bar = QByteArray(filled, '#') + QByteArray(kBarWidth - filled, '.');
        QByteArray text = "\r\x1b[2K" + Local(line.Port.leftJustified(FPortWidth)) + "  [" + bar + "] " +
                          QByteArray::number(line.Percent).rightJustified(3) + "%";
        if (line.Transferring)
            text += "  " + Local(FormatBlockAddress(line.Address)) + "  " +
                    QByteArray::number(line.Rate, 'f', 0).rightJustified(6) + " B/s";
        text += "  " + Local(line.State) + "\n";
        out += text;
    }
    FDrawn = true;
    std::fwrite(out.constData(), 1, size_t(out.size()), stderr);
    std::fflush(stderr);
}

TProgressDisplay& TConsoleBoardOutput::BeginTransfer(const QString& operation) {
    FConsole.Restart(FBoard);
    FConsole.SetState(FBoard, operation);
    return *this;
}

void TConsoleBoardOutput::Show(int percent, std::uint32_t address, double bytesPerSecond) {
    FConsole.Show(FBoard, percent, address, bytesPerSecond);
}
