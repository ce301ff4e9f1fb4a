#pragma once
// One board for a script: the port stays open from the board's making to Close, every step runs the
// command-line program's own steps on the board's thread (TBoardWorker), and the caller gets the
// result each step left, with the diagnostics the program would have written to standard error.
// Nothing here knows of Python; the module turns results into values and exceptions.

#include "cli/boardrun.h"
#include "cli/clioptions.h"
#include "devices/devicesdb.h"
#include "engine/flashengine.h"
#include "python/boardworker.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// An image read and checked once: what a run sends, whatever happens to the file afterwards.
struct TScriptImage {
    QString FileName;
    TImageFormat Format = TImageFormat::Auto; // as read
    std::uint32_t StartAddress = 0;
    bool WriteSizeHeader = true;
    std::shared_ptr<TImageSnapshot> Snapshot;
    std::uint64_t Total = 0;    // the bytes the blocks carry, a binary image's size header included
    std::uint64_t DataSize = 0; // the image's own bytes
    QString Note;               // what the reader said of the image it accepted
};

struct TImageBlock {
    std::uint32_t Address = 0;
    std::uint16_t Length = 0;
};

// Reads `fileName`: `format` empty lets the name and then the content decide, as tervolt-cli does
// without --format. Empty with `refused` set (text and detail) when the image cannot be sent.
std::optional<TScriptImage> ReadScriptImage(const QString& fileName, std::optional<TImageFormat> format,
                                            std::uint32_t startAddress, bool writeSizeHeader,
                                            TFlashOutcome& refused);
// The blocks a Program of the image sends, in order; empty with `error` set when the file cannot be
// read again.
std::vector<TImageBlock> ScriptImageBlocks(const TScriptImage& image, QString& error);

struct TScriptOutcome {
    TBoardResult Result;
    QStringList Diagnostics; // what tervolt-cli writes to standard error
};

struct TScriptBoardSettings {
    QString Port;
    std::uint32_t Baud = 115200;
    QString DevicesFile;      // empty: found as the programs find it, beside `moduleDirectory`
    QString ModuleDirectory;  // where the module lies
    QString InstalledDataDir; // the installed data folder relative to it
    int Retries = 3;
};

class TScriptBoard {
public:
    using TPoll = std::function<void()>;
    // How often the caller's poll runs while a step is under way.
    static constexpr int kPollMs = 20;

    explicit TScriptBoard(const TScriptBoardSettings& settings);
    ~TScriptBoard();
    TScriptBoard(const TScriptBoard&) = delete;
    TScriptBoard& operator=(const TScriptBoard&) = delete;

    // Each step: its result (ExitStatus esSuccess or the failure), `poll` called meanwhile.
    TScriptOutcome Open(const TPoll& poll);
    TScriptOutcome Ping(const TPoll& poll);
    TScriptOutcome Identify(const TPoll& poll);
    // Ping, identify, then the transfer(s), as `tervolt-cli program [--verify]` and `verify` do.
    TScriptOutcome Transfer(const TScriptImage& image, bool program, bool verify, const TPoll& poll);
    // Closes the port and ends the board's thread; later steps fail as a lost line. Safe to call twice.
    void Close();
    bool Closed() const { return FClosed; }

    // From any thread: the step under way stops within a block, nothing more is sent; when none runs,
    // the next one stops before its first command. A stopped step takes the stop with it.
    void Stop() { FStop.store(true); }
    // The bytes the board confirmed over all passes of the step under way, and their total.
    void Progress(std::uint64_t& done, std::uint64_t& total) const;

    const QString& ShownPort() const { return FShownPort; }
    std::uint32_t Baud() const { return FJob.Link.Baud; }
    // A port name or URL that names no port (empty when it is usable).
    const QString& UsageError() const { return FJob.Link.Error; }

private:
    class TOutput;
    TScriptOutcome Step(const QString& operation, const std::function<int(TBoardSession&)>& steps,
                        const TPoll& poll);

    TCliOptions FOptions;
    TBoardJob FJob;
    TDevicesList FDevices;
    QString FShownPort;
    std::atomic<bool> FStop{false};
    std::atomic<std::uint64_t> FSent{0};
    std::atomic<std::uint64_t> FTotal{0};
    std::atomic<int> FPass{0};
    std::atomic<int> FPasses{1};
    bool FOpen = false;
    bool FClosed = false;
    std::unique_ptr<TOutput> FOutput;
    std::unique_ptr<TBoardSession> FSession; // made, used and destroyed on the worker's thread
    TBoardWorker FWorker;                    // last: its thread ends before the rest goes
};
