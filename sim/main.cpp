// tervolt-sim: a simulated target board on a pseudo-terminal, for the demo, the tests and the benchmarks.

#include "common/version.h"
#include "files/systemfiles.h"
#include "sim/simdump.h"
#include "sim/simserver.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <getopt.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 64;
constexpr unsigned kMaxBaud = 4000000;
constexpr unsigned kMaxBurstMs = 1000;

const char* const kUsageHead =
    "Usage: tervolt-sim [OPTIONS]\n"
    "Simulates the target board's monitor program on a pseudo-terminal. Prints the terminal's path\n"
    "as the first line, then serves until SIGINT, SIGTERM or SIGHUP, or until a hangup-after fault\n"
    "has closed the line.\n"
    "\n";
const char* const kUsageTail =
    "\n"
    "Exit status: 0 after a clean stop, 1 on a runtime error, 64 on a usage error.\n";

struct TOptions {
    TSimConfig Config;
    TSimTiming Timing;
    std::string LinkPath;
    std::string DumpPath;
    std::string StatsPath;
};

// Decimal, or hexadecimal with a 0x prefix.
std::optional<unsigned long long> ParseCount(const char* text) {
    if (text == nullptr || *text == '\0' || *text == '-' || *text == '+' || *text == ' ')
        return std::nullopt;
    const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(hex ? text + 2 : text, &end, hex ? 16 : 10);
    if (errno != 0 || end == (hex ? text + 2 : text) || *end != '\0')
        return std::nullopt;
    return value;
}

// A whole number from 1 to `most`.
std::optional<unsigned> ParseFromOne(const char* text, unsigned most) {
    const auto value = ParseCount(text);
    if (!value || *value == 0 || *value > most)
        return std::nullopt;
    return unsigned(*value);
}

bool IsWord(const std::string& text) {
    if (text.empty())
        return false;
    for (unsigned char c : text) {
        if (c <= ' ' || c == 0x7F || c == '>')
            return false;
    }
    return true;
}

// The usage error of a refused value, or nullopt when it was taken.
using TRefusal = std::optional<std::string>;

// `given` is the option as typed, for the error of an empty file name.
TRefusal TakeFileName(const std::string& given, const char* value, std::string& path) {
    if (*value == '\0')
        return given + " needs a file name";
    path = value;
    return std::nullopt;
}

TRefusal TakeWord(const char* value, std::string& word) {
    if (!IsWord(value))
        return std::string("\"") + value + "\" is not a single word without blanks";
    word = value;
    return std::nullopt;
}

TRefusal ApplySize(const std::string&, const char* value, TOptions& options) {
    const auto size = ParseCount(value);
    if (!size || *size == 0 || *size > TSimConfig::kMaxSize)
        return std::string("bad --size \"") + value + "\" (1 .. 268435456 bytes)";
    options.Config.Size = std::uint32_t(*size);
    return std::nullopt;
}

// A whole number from 1 to `most`; refused as "bad OPTION "value" (RANGE)".
TRefusal TakeFromOne(const char* value, unsigned most, const char* option, const char* range,
                     unsigned& target) {
    const auto number = ParseFromOne(value, most);
    if (!number)
        return std::string("bad ") + option + " \"" + value + "\" (" + range + ")";
    target = *number;
    return std::nullopt;
}

TRefusal ApplyBaud(const std::string&, const char* value, TOptions& options) {
    return TakeFromOne(value, kMaxBaud, "--baud", "1 .. 4000000", options.Timing.Baud);
}

TRefusal ApplyEcho(const std::string&, const char* value, TOptions& options) {
    if (std::strcmp(value, "line") != 0 && std::strcmp(value, "live") != 0)
        return std::string("bad --echo \"") + value + "\" (line or live)";
    options.Timing.LiveEcho = std::strcmp(value, "live") == 0;
    return std::nullopt;
}

TRefusal ApplyBurst(const std::string&, const char* value, TOptions& options) {
    return TakeFromOne(value, kMaxBurstMs, "--burst", "1 .. 1000 milliseconds", options.Timing.BurstMs);
}

TRefusal ApplyFault(const std::string&, const char* value, TOptions& options) {
    std::string error;
    const auto fault = ParseSimFault(value, error);
    if (!fault)
        return error;
    options.Config.Faults.push_back(*fault);
    return std::nullopt;
}

TRefusal ApplyResult(const std::string&, const char* value, TOptions& options) {
    std::string error;
    std::pair<std::string, std::string> result;
    if (!ParseSimResult(value, result, error))
        return error;
    options.Config.Results.push_back(result);
    return std::nullopt;
}

TRefusal ApplyLink(const std::string& given, const char* value, TOptions& options) {
    return TakeFileName(given, value, options.LinkPath);
}

TRefusal ApplyDump(const std::string& given, const char* value, TOptions& options) {
    return TakeFileName(given, value, options.DumpPath);
}

TRefusal ApplyStats(const std::string& given, const char* value, TOptions& options) {
    return TakeFileName(given, value, options.StatsPath);
}

TRefusal ApplyManufacturer(const std::string&, const char* value, TOptions& options) {
    return TakeWord(value, options.Config.Manufacturer);
}

TRefusal ApplyDeviceId(const std::string&, const char* value, TOptions& options) {
    return TakeWord(value, options.Config.DeviceId);
}

TRefusal ApplyNoEcho(const std::string&, const char*, TOptions& options) {
    options.Config.Echo = false;
    return std::nullopt;
}

std::string UsageAnswer();

std::string VersionAnswer() {
    return std::string("tervolt-sim ") + kTervoltVersion + "\n";
}

using TApply = TRefusal (*)(const std::string& given, const char* value, TOptions& options);

// One row an option, in the order of the help. Help lines after the first are indented under the
// first. An option that answers (help, version) has Answer instead of Apply.
struct TOptionRow {
    const char* Name;
    char Letter; // its one-letter form, or 0
    const char* ValueName;
    const char* Help;
    TApply Apply;
    std::string (*Answer)();
};

const TOptionRow kOptionRows[] = {
    {"link", 0, "PATH", "make PATH a symbolic link to the terminal (removed at exit)", ApplyLink, nullptr},
    {"manufacturer", 0, "M", "manufacturer word answered to \"P ID\" (default VELUM)", ApplyManufacturer,
     nullptr},
    {"device-id", 0, "D", "device id word answered to \"P ID\" (default VF040B)", ApplyDeviceId, nullptr},
    {"size", 0, "BYTES", "FLASH size, decimal or 0x hex (default 524288, at most 268435456)", ApplySize,
     nullptr},
    {"baud", 0, "RATE",
     "pace both directions as a line at RATE baud, 10 bits per character\n"
     "(default: answer as fast as possible)",
     ApplyBaud, nullptr},
    {"echo", 0, "MODE",
     "when the board echoes a command: line (default) after its CR, or live:\n"
     "each character as it arrives, so that the echo overlaps the command",
     ApplyEcho, nullptr},
    {"burst", 0, "MS",
     "deliver what the board sends in bursts every MS milliseconds (1 .. 1000),\n"
     "as a USB serial adapter's latency timer does (default: as it is due)",
     ApplyBurst, nullptr},
    {"dump", 0, "FILE",
     "at exit, write every programmed byte as Intel HEX (record 04 above 1 MiB);\n"
     "FILE must be writable at start",
     ApplyDump, nullptr},
    {"stats", 0, "FILE",
     "at exit, write line statistics as JSON: the line counts as busy while\n"
     "either direction carries a character (needs --baud), so 1.0 of the wall\n"
     "time is the ceiling; turnaround is from the prompt to the next command",
     ApplyStats, nullptr},
    {"fault", 0, "KIND",
     "inject a fault; repeatable. KIND is one of\n"
     "  drop:N          every Nth command is lost (no answer)\n"
     "  garble:N        every Nth command gets a corrupted result line\n"
     "  silent-after:N  no answers after the first N commands\n"
     "  hangup-after:N  close the terminal once N commands were answered\n"
     "  noise           a start-up banner and stray bytes before the first answer\n"
     "  mismatch:ADDR   the byte at ADDR reads back inverted\n"
     "  late:N:MS       answer the Nth command MS milliseconds late (the board is\n"
     "                  busy until then; later commands wait), then go on normally\n"
     "  slow:MS         answer every command MS milliseconds late, one at a time\n"
     "  flood:N         once N commands are answered (0: from power-up), send\n"
     "                  endless text without a line end or prompt\n"
     "  dup:N:MS        send the Nth command's answer twice, MS milliseconds apart\n"
     "  bare:N          answer the Nth command first without echo, claiming\n"
     "                  success, then properly\n"
     "  echo-ahead:N    answer the Nth command with the echo of a command not sent\n"
     "                  (its address moved past its data), claiming success\n"
     "  extra:N:TEXT    answer the Nth command first with TEXT as its result line\n"
     "                  (escapes as for --result), then properly\n"
     "N and ADDR are decimal or 0x hex; every command line counts, pings included",
     ApplyFault, nullptr},
    {"no-echo", 0, nullptr, "the first line of every answer is empty instead of the command's echo",
     ApplyNoEcho, nullptr},
    {"result", 0, "KIND=TEXT",
     "answer TEXT as the result line of every KIND command (PING, ID, INIT,\n"
     "RESET, PROG, VERIFY), which is still carried out; repeatable. TEXT may\n"
     "hold \\r, \\n, \\0, \\\\ and \\xHH",
     ApplyResult, nullptr},
    {"help", 'h', nullptr, "show this help", nullptr, UsageAnswer},
    {"version", 0, nullptr, "show the version", nullptr, VersionAnswer},
};

// getopt_long's code of a row; above every one-letter option and getopt's own codes.
constexpr int kFirstRowCode = 256;

// The help: each row's name and value, its text from the 24th column on.
const std::string& UsageText() {
    static const std::string text = [] {
        constexpr std::size_t kTextColumn = 23;
        std::string usage = kUsageHead;
        for (const TOptionRow& row : kOptionRows) {
            std::string line = std::string("  ") + (row.Letter ? std::string("-") + row.Letter + ", " : "") +
                               "--" + row.Name + (row.ValueName ? std::string(" ") + row.ValueName : "");
            line.resize(std::max(kTextColumn, line.size() + 1), ' ');
            for (const char* c = row.Help; *c != '\0'; ++c)
                line += *c == '\n' ? "\n" + std::string(kTextColumn, ' ') : std::string(1, *c);
            usage += line + "\n";
        }
        return usage + kUsageTail;
    }();
    return text;
}

std::string UsageAnswer() {
    return UsageText();
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "tervolt-sim: %s\n\n%s", message.c_str(), UsageText().c_str());
    return kExitUsage;
}

// getopt_long's view of the rows: every row by its code, and the one-letter forms.
struct TGetoptTable {
    std::vector<option> Long;
    std::string Short = ":"; // ':' reports a missing value apart from an unknown option
};

const TGetoptTable& GetoptTable() {
    static const TGetoptTable table = [] {
        TGetoptTable made;
        int code = kFirstRowCode;
        for (const TOptionRow& row : kOptionRows) {
            made.Long.push_back({row.Name, row.ValueName ? required_argument : no_argument, nullptr, code++});
            if (row.Letter)
                made.Short += row.Letter;
        }
        made.Long.push_back({nullptr, 0, nullptr, 0});
        return made;
    }();
    return table;
}

// The row getopt_long's `code` stands for; nullptr for an unknown option.
const TOptionRow* RowOf(int code) {
    if (code >= kFirstRowCode && code < kFirstRowCode + int(std::size(kOptionRows)))
        return &kOptionRows[code - kFirstRowCode];
    for (const TOptionRow& row : kOptionRows)
        if (row.Letter && row.Letter == code)
            return &row;
    return nullptr;
}

// What no single option can see: words that are not options, and options that contradict each other.
int CheckWhole(int argc, char** argv, const TOptions& options) {
    if (optind < argc)
        return UsageError(std::string("unexpected argument \"") + argv[optind] + "\"");
    if (options.Timing.LiveEcho && !options.Config.Echo)
        return UsageError("--echo live and --no-echo contradict each other");
    return kExitOk;
}

// Returns kExitOk to go on, or the exit status. `answer` receives the text of --help or --version.
int ParseOptions(int argc, char** argv, TOptions& options, std::string& answer) {
    const TGetoptTable& table = GetoptTable();
    opterr = 0;
    for (;;) {
        const int previous = optind;
        const int code = getopt_long(argc, argv, table.Short.c_str(), table.Long.data(), nullptr);
        if (code == -1)
            break;
        if (code == ':')
            return UsageError(std::string(argv[previous]) + " needs a value");
        const TOptionRow* row = RowOf(code);
        if (row == nullptr)
            return UsageError(std::string("unknown option ") + argv[previous]);
        if (row->Answer) {
            answer = row->Answer();
            return kExitOk;
        }
        if (const TRefusal refusal = row->Apply(argv[previous], optarg, options))
            return UsageError(*refusal);
    }
    return CheckWhole(argc, argv, options);
}

// The --link symlink; removed at exit if it still points at our terminal.
class TLink {
public:
    TLink(std::string path, std::string target) : FPath(std::move(path)), FTarget(std::move(target)) {}
    ~TLink() {
        if (!FMade)
            return;
        char current[512];
        const ssize_t length = ::readlink(FPath.c_str(), current, sizeof current - 1);
        if (length >= 0 && std::string(current, std::size_t(length)) == FTarget)
            ::unlink(FPath.c_str());
    }
    TLink(const TLink&) = delete;
    TLink& operator=(const TLink&) = delete;

    bool Make(std::string& error) {
        struct stat info {};
        // A link left behind by a killed run is replaced; anything else at PATH is not ours to remove.
        if (::lstat(FPath.c_str(), &info) == 0) {
            if (!S_ISLNK(info.st_mode)) {
                error = FPath + " exists and is not a symbolic link";
                return false;
            }
            if (::unlink(FPath.c_str()) != 0) {
                error = "cannot replace " + FPath + ": " + std::strerror(errno);
                return false;
            }
        }
        if (::symlink(FTarget.c_str(), FPath.c_str()) != 0) {
            error = "cannot create the link " + FPath + ": " + std::strerror(errno);
            return false;
        }
        FMade = true;
        return true;
    }

private:
    std::string FPath;
    std::string FTarget;
    bool FMade = false;
};

// A file written at exit is checked at start, so that a run is not lost to a wrong path. It is created
// for the check when missing (and removed again); an existing file is not truncated until the end.
bool CheckWritableAtStart(const std::string& path, std::string& error) {
    struct stat before {};
    const bool existed = ::stat(path.c_str(), &before) == 0;
    TUniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666));
    if (!file.IsValid()) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        error = "cannot write " + path + ": not a regular file";
        return false;
    }
    if (!existed)
        ::unlink(path.c_str());
    return true;
}

// Waits for SIGINT, SIGTERM or SIGHUP, or for the board to end by itself.
bool WaitForEnd(int signalFd, const TSimServer& server, std::string& error) {
    pollfd fds[2] = {{signalFd, POLLIN, 0}, {server.FinishedFd(), POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) >= 0)
            return true;
        if (errno != EINTR) {
            error = std::string("waiting for a signal failed: ") + std::strerror(errno);
            return false;
        }
    }
}

int RunSimulator(int argc, char** argv) {
    TOptions options;
    std::string answer;
    if (const int status = ParseOptions(argc, argv, options, answer); status != kExitOk)
        return status;
    if (!answer.empty()) {
        std::fputs(answer.c_str(), stdout);
        return kExitOk;
    }

    // Block the stop signals before the serving thread exists, so that only the signalfd sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    if (pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
        std::fprintf(stderr, "tervolt-sim: cannot block signals\n");
        return kExitFailure;
    }
    std::signal(SIGPIPE, SIG_IGN);
    TUniqueFd signalFd(::signalfd(-1, &stopSignals, SFD_CLOEXEC));
    if (!signalFd.IsValid()) {
        std::fprintf(stderr, "tervolt-sim: cannot watch signals: %s\n", std::strerror(errno));
        return kExitFailure;
    }

    std::string error;
    for (const std::string* path : {&options.DumpPath, &options.StatsPath}) {
        if (!path->empty() && !CheckWritableAtStart(*path, error)) {
            std::fprintf(stderr, "tervolt-sim: %s\n", error.c_str());
            return kExitFailure;
        }
    }
    TSimServer server(options.Config, options.Timing);
    if (!server.Start(error)) {
        std::fprintf(stderr, "tervolt-sim: %s\n", error.c_str());
        return kExitFailure;
    }
    std::optional<TLink> link;
    if (!options.LinkPath.empty()) {
        link.emplace(options.LinkPath, server.SlavePath());
        if (!link->Make(error)) {
            std::fprintf(stderr, "tervolt-sim: %s\n", error.c_str());
            return kExitFailure;
        }
    }
    std::printf("%s\n", server.SlavePath().c_str());
    std::fflush(stdout);

    int status = kExitOk;
    if (!WaitForEnd(signalFd.Get(), server, error)) {
        std::fprintf(stderr, "tervolt-sim: %s\n", error.c_str());
        status = kExitFailure;
    }
    server.Stop();
    if (const std::string failure = server.FailureText(); !failure.empty()) {
        std::fprintf(stderr, "tervolt-sim: %s\n", failure.c_str());
        status = kExitFailure;
    }
    link.reset();

    if (!options.DumpPath.empty() && !WriteProgrammedHex(options.DumpPath, server.Snapshot(), error)) {
        std::fprintf(stderr, "tervolt-sim: %s\n", error.c_str());
        status = kExitFailure;
    }
    if (!options.StatsPath.empty() && !server.WriteStats(options.StatsPath, error)) {
        std::fprintf(stderr, "tervolt-sim: %s\n", error.c_str());
        status = kExitFailure;
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    EnsureStandardDescriptors(); // the terminal must never become descriptor 1 or 2
    try {
        return RunSimulator(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tervolt-sim: internal error: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "tervolt-sim: internal error: unknown exception\n");
    }
    return kExitFailure;
}
