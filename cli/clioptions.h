#pragma once
// Command line of tervolt-cli, read through one table of options. Options may stand before or after
// the command; each may be given once, except --port and --ports.

#include "image/imageformat.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>

class TImageSnapshot;

// Exit statuses that scripts rely on.
enum TExitStatus : int {
    esSuccess = 0,
    esCompareMismatch = 1,
    esImageError = 2,
    esCommunicationFailure = 3,
    esNotIdentified = 4,
    esInterrupted = 5,
    esDevicesError = 6, // the device list is missing or cannot be read: a file error
    esUsage = 64,
};

enum class TCliCommand { ccPing, ccIdentify, ccProgram, ccVerify, ccBlocks, ccPorts };

struct TCliOptions {
    TCliCommand Command = TCliCommand::ccPing;
    // One entry a board; empty: the per-user settings, then COM2. Never "auto" (see AutoPort).
    QStringList Ports;
    bool AutoPort = false;             // --port auto: the port(s) whose monitor answers
    bool AllPorts = false;             // --all: with --port auto, every port that answers
    std::optional<std::uint32_t> Baud; // empty: the per-user settings, then 115200
    QString DevicesFile;               // empty: devices.tervolt beside the program
    QString FileName;
    TImageFormat FileFormat = TImageFormat::Auto;
    bool FormatGiven = false; // --format named: an explicit auto lets a whole image outweigh a .bin name
    std::shared_ptr<TImageSnapshot> Image; // read once before the boards start: they all send it
    std::uint32_t StartAddress = 0;
    bool WriteSizeHeader = true;
    int Retries = 3;
    bool Quiet = false;
    bool Verify = false; // blocks: the commands of verify; program: verify after it
    QString TraceFile;   // empty: no trace
    bool Json = false;   // one JSON object on standard output
};

struct TCliParseResult {
    std::optional<TCliOptions> Options;
    int ExitStatus = esSuccess; // when Options is empty: what to exit with
    QString Output;             // help or version text (stdout)
    QString Error;              // usage error (stderr)
    QString Reason;             // the usage error alone, for the JSON object
    bool Json = false;          // --json was asked for: a usage error is said as a JSON object too
};

TCliParseResult ParseCliArguments(const QStringList& arguments);

// True when the run talks to a board: ping, identify, program, verify.
bool CommandUsesBoard(TCliCommand command);

// A name as messages show it: control bytes (a newline in a port name) escaped as \n, \r, \t, \xHH.
QString ShownName(const QString& name);
