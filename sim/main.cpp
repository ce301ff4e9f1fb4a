// tervolt-sim: a simulated target board on a pseudo-terminal, for the demo, the tests and the benchmarks.

#include "common/version.h"
#include "files/systemfiles.h"
#include "sim/simdump.h"
#include "sim/simserver.h"

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

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 64;
constexpr unsigned kMaxBaud = 4000000;
constexpr unsigned kMaxBurstMs = 1000;

const char* const kUsage =
    "Usage: tervolt-sim [OPTIONS]\n"
    "Simulates the target board's monitor program on a pseudo-terminal. Prints the terminal's path\n"
    "as the first line, then serves until SIGINT, SIGTERM or SIGHUP, or until a hangup-after fault\n"
    "has closed the line.\n"
    "\n"
    "  --link PATH          make PATH a symbolic link to the terminal (removed at exit)\n"
    "  --manufacturer M     manufacturer word answered to \"P ID\" (default VELUM)\n"
    "  --device-id D        device id word answered to \"P ID\" (default VF040B)\n"
    "  --size BYTES         FLASH size, decimal or 0x hex (default 524288, at most 268435456)\n"
    "  --baud RATE          pace both directions as a line at RATE baud, 10 bits per character\n"
    "                       (default: answer as fast as possible)\n"
    "  --echo MODE          when the board echoes a command: line (default) after its CR, or live:\n"
    "                       each character as it arrives, so that the echo overlaps the command\n"
    "  --burst MS           deliver what the board sends in bursts every MS milliseconds (1 .. 1000),\n"
    "                       as a USB serial adapter's latency timer does (default: as it is due)\n"
    "  --dump FILE          at exit, write every programmed byte as Intel HEX (record 04 above 1 MiB);\n"
    "                       FILE must be writable at start\n"
    "  --stats FILE         at exit, write line statistics as JSON: the line counts as busy while\n"
    "                       either direction carries a character (needs --baud), so 1.0 of the wall\n"
    "                       time is the ceiling; turnaround is from the prompt to the next command\n"
    "  --fault KIND         inject a fault; repeatable. KIND is one of\n"
    "                         drop:N          every Nth command is lost (no answer)\n"
    "                         garble:N        every Nth command gets a corrupted result line\n"
    "                         silent-after:N  no answers after the first N commands\n"
    "                         hangup-after:N  close the terminal once N commands were answered\n"
    "                         noise           a start-up banner and stray bytes before the first answer\n"
    "                         mismatch:ADDR   the byte at ADDR reads back inverted\n"
    "                         late:N:MS       answer the Nth command MS milliseconds late (the board is\n"
    "                                         busy until then; later commands wait), then go on normally\n"
    "                         slow:MS         answer every command MS milliseconds late, one at a time\n"
    "                         flood:N         once N commands are answered (0: from power-up), send\n"
    "                                         endless text without a line end or prompt\n"
    "                         dup:N:MS        send the Nth command's answer twice, MS milliseconds apart\n"
    "                         bare:N          answer the Nth command first without echo, claiming\n"
    "                                         success, then properly\n"
    "                         echo-ahead:N    answer the Nth command with the echo of a command not sent\n"
    "                                         (its address moved past its data), claiming success\n"
    "                         extra:N:TEXT    answer the Nth command first with TEXT as its result line\n"
    "                                         (escapes as for --result), then properly\n"
    "                       N and ADDR are decimal or 0x hex; every command line counts, pings included\n"
    "  --no-echo            the first line of every answer is empty instead of the command's echo\n"
    "  --result KIND=TEXT   answer TEXT as the result line of every KIND command (PING, ID, INIT,\n"
    "                       RESET, PROG, VERIFY), which is still carried out; repeatable. TEXT may\n"
    "                       hold \\r, \\n, \\0, \\\\ and \\xHH\n"
    "  -h, --help           show this help\n"
    "  --version            show the version\n"
    "\n"
    "Exit status: 0 after a clean stop, 1 on a runtime error, 64 on a usage error.\n";

struct TOptions {
    TSimConfig Config;
    TSimTiming Timing;
    std::string LinkPath;
    std::string DumpPath;
    std::string StatsPath;
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "tervolt-sim: %s\n\n%s", message.c_str(), kUsage);
    return kExitUsage;
}

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

// Returns kExitOk to go on, or the exit status. `answer` receives the text of --help or --version.
int ParseOptions(int argc, char** argv, TOptions& options, std::string& answer) {
    enum {
        opLink = 1,
        opManufacturer,
        opDeviceId,
        opSize,
        opBaud,
        opDump,
        opStats,
        opFault,
        opNoEcho,
        opResult,
        opEcho,
        opBurst,
        opHelp,
        opVersion
    };
    static const option kLongOptions[] = {
        {"link", required_argument, nullptr, opLink},
        {"manufacturer", required_argument, nullptr, opManufacturer},
        {"device-id", required_argument, nullptr, opDeviceId},
        {"size", required_argument, nullptr, opSize},
        {"baud", required_argument, nullptr, opBaud},
        {"dump", required_argument, nullptr, opDump},
        {"stats", required_argument, nullptr, opStats},
        {"fault", required_argument, nullptr, opFault},
        {"no-echo", no_argument, nullptr, opNoEcho},
        {"result", required_argument, nullptr, opResult},
        {"echo", required_argument, nullptr, opEcho},
        {"burst", required_argument, nullptr, opBurst},
        {"help", no_argument, nullptr, opHelp},
        {"version", no_argument, nullptr, opVersion},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    for (;;) {
        const int previous = optind;
        const int option = getopt_long(argc, argv, ":h", kLongOptions, nullptr);
        if (option == -1)
            break;
        switch (option) {
        case opLink:
        case opDump:
        case opStats:
            if (*optarg == '\0')
                return UsageError(std::string(argv[previous]) + " needs a file name");
            (option == opLink   ? options.LinkPath
             : option == opDump ? options.DumpPath
                                : options.StatsPath) = optarg;
            break;
        case opManufacturer:
        case opDeviceId:
            if (!IsWord(optarg))
                return UsageError(std::string("\"") + optarg + "\" is not a single word without blanks");
            (option == opManufacturer ? options.Config.Manufacturer : options.Config.DeviceId) = optarg;
            break;
        case opSize: {
            const auto size = ParseCount(optarg);
            if (!size || *size == 0 || *size > TSimConfig::kMaxSize)
                return UsageError(std::string("bad --size \"") + optarg + "\" (1 .. 268435456 bytes)");
            options.Config.Size = std::uint32_t(*size);
            break;
        }
        case opBaud: {
            const auto baud = ParseFromOne(optarg, kMaxBaud);
            if (!baud)
                return UsageError(std::string("bad --baud \"") + optarg + "\" (1 .. 4000000)");
            options.Timing.Baud = *baud;
            break;
        }
        case opEcho:
            if (std::strcmp(optarg, "line") != 0 && std::strcmp(optarg, "live") != 0)
                return UsageError(std::string("bad --echo \"") + optarg + "\" (line or live)");
            options.Timing.LiveEcho = std::strcmp(optarg, "live") == 0;
            break;
        case opBurst: {
            const auto burst = ParseFromOne(optarg, kMaxBurstMs);
            if (!burst)
                return UsageError(std::string("bad --burst \"") + optarg + "\" (1 .. 1000 milliseconds)");
            options.Timing.BurstMs = *burst;
            break;
        }
        case opFault: {
            std::string error;
            const auto fault = ParseSimFault(optarg, error);
            if (!fault)
                return UsageError(error);
            options.Config.Faults.push_back(*fault);
            break;
        }
        case opNoEcho:
            options.Config.Echo = false;
            break;
        case opResult: {
            std::string error;
            std::pair<std::string, std::string> result;
            if (!ParseSimResult(optarg, result, error))
                return UsageError(error);
            options.Config.Results.push_back(result);
            break;
        }
        case 'h':
        case opHelp:
            answer = kUsage;
            return kExitOk;
        case opVersion:
            answer = std::string("tervolt-sim ") + kTervoltVersion + "\n";
            return kExitOk;
        case ':':
            return UsageError(std::string(argv[previous]) + " needs a value");
        default:
            return UsageError(std::string("unknown option ") + argv[previous]);
        }
    }
    if (optind < argc)
        return UsageError(std::string("unexpected argument \"") + argv[optind] + "\"");
    if (options.Timing.LiveEcho && !options.Config.Echo)
        return UsageError("--echo live and --no-echo contradict each other");
    return kExitOk;
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
