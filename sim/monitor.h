#pragma once
// The target board's monitor program as a pure model: received bytes go in, the bytes the board
// sends back come out. It owns a NOR-like FLASH: erased bytes read 0xFF, "P INIT" erases everything,
// programming can only clear bits. Independent of the PC-side protocol code on purpose, so that the
// two cannot share a mistake.
//
// Line protocol: a command ends with CR; a LF right after the CR is ignored. Every answer is the
// received line echoed and ended by CR LF, one result line ended by CR LF, and the prompt '>'.
//
//   ""                          -> ""  (presence check)
//   "P ID"                      -> "DeviceID: <id> Manufacturer: <manufacturer>"
//   "P INIT"                    -> "FLASH is ready to programming."
//   "P RESET"                   -> "FLASH reset done"
//   "P PROG <addr> <hex>"       -> "Done"
//   "P VERIFY <addr> <hex>"     -> "Compare OK" or
//                                  "Compare error at address %06X: Expected: %02X Actual: %02X"
//
// Errors are result lines too: "Unknown command", "Syntax error", "Bad hex data",
// "Address out of range", "Line too long", and for a byte that cannot take its value
// "Program error at address %06X: Wanted: %02X Found: %02X". A "P PROG" programs its bytes in order
// and stops at the first one that fails, as the hardware would; a range or syntax error writes nothing.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

enum TSimFaultKind {
    fkDrop,        // every Nth command is lost on the line: not executed, no answer
    fkGarble,      // every Nth command is executed but its result line arrives corrupted
    fkSilentAfter, // commands after the Nth are neither executed nor answered
    fkHangupAfter, // the line is closed once the Nth command has been answered
    fkNoise,       // a start-up banner, and stray bytes in front of the first answer
    fkMismatch,    // the byte at Value reads back inverted (programming it still works)
    fkLate,        // the Nth command is answered Milliseconds late; the board is busy until then
    fkSlow,        // every command is answered Milliseconds late, one after the other
    fkFlood,       // once the Nth command is answered, endless text without a line end or prompt
    fkDup,         // the Nth command's answer is sent twice, the second time Milliseconds later
    fkBare,        // the Nth command is first answered without echo, claiming success, then properly
    fkEchoAhead,   // the Nth command is answered with the echo of a command not sent, claiming success
    fkExtra,       // the Nth command is first answered with Text as its result line, then properly
};

struct TSimFault {
    TSimFaultKind Kind = fkNoise;
    std::uint32_t Value = 0;        // N, or the address for fkMismatch
    std::uint32_t Milliseconds = 0; // fkLate, fkSlow, fkDup
    std::string Text{};             // fkExtra
};

// "drop:N", "garble:N" (N >= 1), "silent-after:N" (N >= 0), "hangup-after:N" (N >= 1), "noise",
// "mismatch:ADDR", "late:N:MS" (N >= 1), "slow:MS", "flood:N" (N >= 0), "dup:N:MS", "bare:N",
// "echo-ahead:N", "extra:N:TEXT" (N >= 1; TEXT takes the escapes of ParseSimResult). Numbers are
// decimal, or hexadecimal with a 0x prefix. On failure `error` says why.
std::optional<TSimFault> ParseSimFault(std::string_view text, std::string& error);

struct TSimConfig {
    static constexpr std::uint32_t kMaxSize = 256u * 1024 * 1024;

    std::string Manufacturer = "VELUM";
    std::string DeviceId = "VF040B";
    std::uint32_t Size = 524288; // bytes, 1 .. kMaxSize
    std::vector<TSimFault> Faults;
    // The first line of every answer echoes the command line; without echo it is empty.
    bool Echo = true;
    // A "P PROG" checks that every byte took its value. Without the check it writes blindly, as a
    // bare NOR part does: the cells keep the AND of old and new, and the answer is "Done".
    bool CheckWrites = true;
    // Result lines given instead of the real ones, by command: "PING", "ID", "INIT", "RESET", "PROG",
    // "VERIFY". The command is still carried out.
    std::vector<std::pair<std::string, std::string>> Results;
};

// "KIND=TEXT" for TSimConfig::Results; TEXT may hold \r, \n, \0, \\ and \xHH.
bool ParseSimResult(std::string_view text, std::pair<std::string, std::string>& result, std::string& error);

struct TSimAnswer {
    std::string Text;
    std::uint32_t DelayMs = 0; // after the board is free to answer
};

class TSimMonitor {
public:
    static constexpr std::size_t kMaxLineBytes = 4096; // longer lines are answered "Line too long"

    explicit TSimMonitor(TSimConfig config);

    // What the board prints when it powers up: the banner with the noise fault, otherwise nothing.
    std::string StartupBanner() const;
    // Takes received bytes and returns the answers they completed, each ending with the prompt.
    // Once a hang-up is due, further bytes are ignored.
    std::vector<std::string> Feed(std::string_view received);
    // The same, with the time the board is busy before each answer.
    std::vector<TSimAnswer> FeedTimed(std::string_view received);
    // A power cycle: the line being received is lost, the FLASH keeps what it holds.
    void Restart();
    // True once the flood fault has started: everything after is text without an end.
    bool Flooding() const { return FFlooding; }

    // True once the command after which the line closes has been taken (its answer, if any, is the
    // last one returned by Feed).
    bool HangupDue() const { return FHangupDue; }
    std::uint64_t CommandCount() const { return FCommandCount; }
    const TSimConfig& Config() const { return FConfig; }
    // A fault from now on; a late:N fault given here counts N from the next command.
    void AddFault(TSimFault fault);

    // The stored FLASH contents (faults do not change them) and which bytes a "P PROG" wrote since the
    // last erase.
    const std::vector<std::uint8_t>& Flash() const { return FFlash; }
    const std::vector<bool>& Programmed() const { return FProgrammed; }
    // A byte as "P VERIFY" reads it, with the mismatch fault applied.
    std::uint8_t ReadBack(std::uint32_t address) const;

private:
    void TakeLine(const std::string& line, bool overflow, std::vector<TSimAnswer>& answers);
    std::string Framed(std::string_view echo, std::string_view result) const;
    std::string SuccessFor(const std::string& line) const;
    static std::string LineAhead(const std::string& line);
    std::string ResultFor(const std::string& line, bool overflow);
    std::string Execute(const std::string& line);
    std::string ExecuteBlock(bool program, std::string_view address, std::string_view data);
    void Erase();
    bool IsNthCommand(TSimFaultKind kind) const;
    const TSimFault* NthCommandFault(TSimFaultKind kind) const;
    bool HasFault(TSimFaultKind kind) const;
    static std::string Garble(std::string result);

    TSimConfig FConfig;
    std::vector<std::uint8_t> FFlash;
    std::vector<bool> FProgrammed;
    std::string FLine;
    bool FLineOverflow = false;
    bool FLastWasCR = false;
    bool FHangupDue = false;
    bool FAnsweredOnce = false;
    bool FFlooding = false;
    std::uint64_t FCommandCount = 0;
};
