#include "sim/monitor.h"

#include <algorithm>
#include <cstdio>

namespace {

const char kPrompt = '>';
const std::string_view kLineEnd = "\r\n";
// Bytes a board may emit while its UART settles: no CR, LF or prompt, so they never close an answer.
const std::string_view kStrayBytes{"\x00\x13\xFE~#\x7F\xE0", 7};

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Hexadecimal digits only, at most 32 bits.
std::optional<std::uint32_t> ParseHexAddress(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        const int d = HexValue(c);
        if (d < 0)
            return std::nullopt;
        value = value * 16 + unsigned(d);
        if (value > 0xFFFFFFFFu)
            return std::nullopt;
    }
    return std::uint32_t(value);
}

std::optional<std::vector<std::uint8_t>> ParseHexBytes(std::string_view text) {
    if (text.size() % 2 != 0)
        return std::nullopt;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = HexValue(text[i]);
        const int lo = HexValue(text[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        bytes.push_back(std::uint8_t(hi * 16 + lo));
    }
    return bytes;
}

// Decimal, or hexadecimal with a 0x prefix; 32 bits at most.
std::optional<std::uint32_t> ParseNumber(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        const int d = HexValue(c);
        if (d < 0 || d >= base)
            return std::nullopt;
        value = value * unsigned(base) + unsigned(d);
        if (value > 0xFFFFFFFFu)
            return std::nullopt;
    }
    return std::uint32_t(value);
}

std::vector<std::string_view> SplitWords(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t pos = 0;
    while (pos < line.size()) {
        if (line[pos] == ' ') {
            ++pos;
            continue;
        }
        const std::size_t end = std::min(line.find(' ', pos), line.size());
        words.push_back(line.substr(pos, end - pos));
        pos = end;
    }
    return words;
}

std::string Format(const char* format, std::uint32_t address, unsigned first, unsigned second) {
    char text[96];
    std::snprintf(text, sizeof text, format, unsigned(address), first, second);
    return text;
}

// \r, \n, \0, \\ and \xHH; nothing for any other escape.
std::optional<std::string> Unescaped(std::string_view escaped) {
    std::string value;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '\\') {
            value.push_back(escaped[i]);
            continue;
        }
        const char next = i + 1 < escaped.size() ? escaped[i + 1] : '\0';
        const int hi = i + 2 < escaped.size() ? HexValue(escaped[i + 2]) : -1;
        const int lo = i + 3 < escaped.size() ? HexValue(escaped[i + 3]) : -1;
        if (next == 'r' || next == 'n' || next == '0' || next == '\\') {
            value.push_back(next == 'r' ? '\r' : next == 'n' ? '\n' : next == '0' ? '\0' : '\\');
            ++i;
        } else if (next == 'x' && hi >= 0 && lo >= 0) {
            value.push_back(char(hi * 16 + lo));
            i += 3;
        } else {
            return std::nullopt;
        }
    }
    return value;
}

} // namespace

std::optional<TSimFault> ParseSimFault(std::string_view text, std::string& error) {
    struct TKindName {
        std::string_view Name;
        TSimFaultKind Kind;
        std::uint32_t Minimum;
    };
    static const TKindName kKinds[] = {
        {"drop", fkDrop, 1},
        {"garble", fkGarble, 1},
        {"silent-after", fkSilentAfter, 0},
        {"hangup-after", fkHangupAfter, 1},
        {"mismatch", fkMismatch, 0},
        {"flood", fkFlood, 0},
        {"bare", fkBare, 1},
        {"echo-ahead", fkEchoAhead, 1},
    };
    if (text == "noise")
        return TSimFault{fkNoise, 0};
    const std::size_t colon0 = text.find(':');
    const std::string_view name0 = text.substr(0, colon0);
    if (name0 == "extra") {
        const std::string_view rest =
            colon0 == std::string_view::npos ? std::string_view() : text.substr(colon0 + 1);
        const std::size_t colon1 = rest.find(':');
        const auto n = colon1 == std::string_view::npos ? std::nullopt : ParseNumber(rest.substr(0, colon1));
        const auto result =
            colon1 == std::string_view::npos ? std::nullopt : Unescaped(rest.substr(colon1 + 1));
        if (!n || *n < 1 || !result) {
            error = "fault \"" + std::string(text) +
                    "\" needs extra:N:TEXT with N >= 1 (TEXT takes \\r, \\n, \\0, "
                    "\\\\ and \\xHH)";
            return std::nullopt;
        }
        return TSimFault{fkExtra, *n, 0, *result};
    }
    if (name0 == "late" || name0 == "slow" || name0 == "dup") {
        const bool late = name0 != "slow";
        std::string_view rest =
            colon0 == std::string_view::npos ? std::string_view() : text.substr(colon0 + 1);
        std::optional<std::uint32_t> n = 0;
        if (late) {
            const std::size_t colon1 = rest.find(':');
            n = colon1 == std::string_view::npos ? std::nullopt : ParseNumber(rest.substr(0, colon1));
            rest = colon1 == std::string_view::npos ? std::string_view() : rest.substr(colon1 + 1);
        }
        const auto ms = ParseNumber(rest);
        if (!n || !ms || (late && *n < 1)) {
            error = "fault \"" + std::string(text) + "\" needs " +
                    (late ? std::string(name0) + ":N:MS with N >= 1" : std::string("slow:MS"));
            return std::nullopt;
        }
        return TSimFault{name0 == "dup" ? fkDup : late ? fkLate : fkSlow, *n, *ms};
    }
    const std::size_t colon = text.find(':');
    const std::string_view name = text.substr(0, colon);
    for (const TKindName& kind : kKinds) {
        if (kind.Name != name)
            continue;
        const auto value =
            colon == std::string_view::npos ? std::nullopt : ParseNumber(text.substr(colon + 1));
        if (!value || *value < kind.Minimum) {
            error = "fault \"" + std::string(text) + "\" needs " + std::string(name) + ":" +
                    (kind.Kind == fkMismatch ? "ADDRESS"
                     : kind.Minimum          ? "N with N >= 1"
                                             : "N");
            return std::nullopt;
        }
        return TSimFault{kind.Kind, *value};
    }
    error = "unknown fault \"" + std::string(text) +
            "\" (drop:N, garble:N, silent-after:N, hangup-after:N, noise, mismatch:ADDRESS, late:N:MS, "
            "slow:MS, flood:N, dup:N:MS, bare:N, echo-ahead:N, extra:N:TEXT)";
    return std::nullopt;
}

bool ParseSimResult(std::string_view text, std::pair<std::string, std::string>& result, std::string& error) {
    static const std::string_view kKinds[] = {"PING", "ID", "INIT", "RESET", "PROG", "VERIFY"};
    const std::size_t equals = text.find('=');
    const std::string_view kind = text.substr(0, equals);
    if (equals == std::string_view::npos ||
        std::find(std::begin(kKinds), std::end(kKinds), kind) == std::end(kKinds)) {
        error = "result \"" + std::string(text) +
                "\" needs KIND=TEXT with KIND one of PING, ID, INIT, RESET, PROG, "
                "VERIFY";
        return false;
    }
    const auto value = Unescaped(text.substr(equals + 1));
    if (!value) {
        error = "result \"" + std::string(text) + "\": unknown escape (use \\r, \\n, \\0, \\\\ or \\xHH)";
        return false;
    }
    result = {std::string(kind), *value};
    return true;
}

TSimMonitor::TSimMonitor(TSimConfig config) : FConfig(std::move(config)) {
    FConfig.Size = std::clamp<std::uint32_t>(FConfig.Size, 1, TSimConfig::kMaxSize);
    FFlash.assign(FConfig.Size, 0xFF);
    FProgrammed.assign(FConfig.Size, false);
    FFlooding = std::any_of(FConfig.Faults.begin(), FConfig.Faults.end(),
                            [](const TSimFault& fault) { return fault.Kind == fkFlood && fault.Value == 0; });
}

void TSimMonitor::AddFault(TSimFault fault) {
    if (fault.Kind == fkLate || fault.Kind == fkDup || fault.Kind == fkBare || fault.Kind == fkEchoAhead ||
        fault.Kind == fkExtra)
        fault.Value += std::uint32_t(FCommandCount);
    FConfig.Faults.push_back(fault);
}

std::string TSimMonitor::StartupBanner() const {
    if (!HasFault(fkNoise))
        return {};
    return "\r\nVELUM boot monitor (simulated board)\r\nFLASH " + FConfig.DeviceId + ", " +
           std::to_string(FConfig.Size) + " bytes\r\n>";
}

void TSimMonitor::Restart() {
    FLine.clear();
    FLineOverflow = false;
    FLastWasCR = false;
}

std::vector<std::string> TSimMonitor::Feed(std::string_view received) {
    std::vector<std::string> texts;
    for (TSimAnswer& answer : FeedTimed(received))
        texts.push_back(std::move(answer.Text));
    return texts;
}

std::vector<TSimAnswer> TSimMonitor::FeedTimed(std::string_view received) {
    std::vector<TSimAnswer> answers;
    for (char c : received) {
        if (FHangupDue || FFlooding)
            break;
        if (c == '\n' && FLastWasCR) {
            FLastWasCR = false;
            continue;
        }
        FLastWasCR = c == '\r';
        if (c != '\r') {
            if (FLine.size() < kMaxLineBytes)
                FLine.push_back(c);
            else
                FLineOverflow = true;
            continue;
        }
        TakeLine(FLine, FLineOverflow, answers);
        FLine.clear();
        FLineOverflow = false;
    }
    return answers;
}

void TSimMonitor::TakeLine(const std::string& line, bool overflow, std::vector<TSimAnswer>& answers) {
    ++FCommandCount;
    for (const TSimFault& fault : FConfig.Faults) {
        if (fault.Kind == fkHangupAfter && FCommandCount >= fault.Value)
            FHangupDue = true;
    }
    for (const TSimFault& fault : FConfig.Faults) {
        if (fault.Kind == fkSilentAfter && FCommandCount > fault.Value)
            return;
    }
    if (IsNthCommand(fkDrop))
        return;

    std::string result = ResultFor(line, overflow);
    if (IsNthCommand(fkGarble))
        result = Garble(std::move(result));

    const std::size_t first = answers.size();
    const std::string echo = FConfig.Echo ? line : std::string();
    // Answers that a faulty board sends in front of the real one, or instead of it.
    if (NthCommandFault(fkBare))
        answers.push_back({Framed({}, SuccessFor(line))});
    if (const TSimFault* extra = NthCommandFault(fkExtra))
        answers.push_back({Framed(echo, extra->Text)});
    if (NthCommandFault(fkEchoAhead))
        answers.push_back({Framed(LineAhead(line), SuccessFor(line))});
    else
        answers.push_back({Framed(echo, result)});
    if (const TSimFault* dup = NthCommandFault(fkDup))
        answers.push_back({answers.back().Text, dup->Milliseconds});

    if (!FAnsweredOnce && HasFault(fkNoise))
        answers[first].Text.insert(0, kStrayBytes);
    FAnsweredOnce = true;
    for (const TSimFault& fault : FConfig.Faults) {
        if (fault.Kind == fkSlow || (fault.Kind == fkLate && fault.Value == FCommandCount))
            answers[first].DelayMs += fault.Milliseconds;
        if (fault.Kind == fkFlood && FCommandCount >= fault.Value)
            FFlooding = true;
    }
}

std::string TSimMonitor::Framed(std::string_view echo, std::string_view result) const {
    std::string text(echo);
    text.append(kLineEnd).append(result).append(kLineEnd).push_back(kPrompt);
    return text;
}

// What the command's answer says when all is well.
std::string TSimMonitor::SuccessFor(const std::string& line) const {
    const std::vector<std::string_view> words = SplitWords(line);
    const std::string_view kind = words.size() >= 2 && words[0] == "P" ? words[1] : std::string_view();
    if (kind == "ID")
        return "DeviceID: " + FConfig.DeviceId + " Manufacturer: " + FConfig.Manufacturer;
    if (kind == "INIT")
        return "FLASH is ready to programming.";
    if (kind == "RESET")
        return "FLASH reset done";
    if (kind == "PROG")
        return "Done";
    if (kind == "VERIFY")
        return "Compare OK";
    return {};
}

// The line of a command not sent: a block command moved past its own data, anything else with a mark.
std::string TSimMonitor::LineAhead(const std::string& line) {
    const std::vector<std::string_view> words = SplitWords(line);
    const auto address = words.size() >= 3 ? ParseHexAddress(words[2]) : std::nullopt;
    if (words.size() < 3 || words[0] != "P" || !address)
        return line + " +";
    const std::size_t bytes = words.size() >= 4 ? words[3].size() / 2 : 0;
    char moved[16];
    std::snprintf(moved, sizeof moved, "%06X", unsigned(*address + bytes));
    std::string ahead = "P " + std::string(words[1]) + " " + moved;
    if (words.size() >= 4)
        ahead.append(" ").append(words[3]);
    return ahead;
}

std::string TSimMonitor::ResultFor(const std::string& line, bool overflow) {
    std::string result = overflow ? std::string("Line too long") : Execute(line);
    const std::vector<std::string_view> words = SplitWords(line);
    const std::string_view kind = line.empty()                           ? std::string_view("PING")
                                  : words.size() >= 2 && words[0] == "P" ? words[1]
                                                                         : std::string_view();
    for (const auto& [name, text] : FConfig.Results) {
        if (name == kind)
            result = text;
    }
    return result;
}

std::string TSimMonitor::Execute(const std::string& line) {
    if (line.empty())
        return {};
    const std::vector<std::string_view> words = SplitWords(line);
    if (words.size() < 2 || words[0] != "P")
        return "Unknown command";
    const std::string_view command = words[1];
    if (command == "ID" || command == "INIT" || command == "RESET") {
        if (words.size() != 2)
            return "Syntax error";
        if (command == "ID")
            return "DeviceID: " + FConfig.DeviceId + " Manufacturer: " + FConfig.Manufacturer;
        if (command == "RESET")
            return "FLASH reset done";
        Erase();
        return "FLASH is ready to programming.";
    }
    if (command == "PROG" || command == "VERIFY") {
        // A block of no bytes is sent as the address followed by a space and nothing else.
        if (words.size() != 3 && words.size() != 4)
            return "Syntax error";
        return ExecuteBlock(command == "PROG", words[2], words.size() == 4 ? words[3] : std::string_view());
    }
    return "Unknown command";
}

std::string TSimMonitor::ExecuteBlock(bool program, std::string_view addressText, std::string_view dataText) {
    const auto address = ParseHexAddress(addressText);
    if (!address)
        return "Syntax error";
    const auto data = ParseHexBytes(dataText);
    if (!data)
        return "Bad hex data";
    if (*address >= FConfig.Size || data->size() > FConfig.Size - *address)
        return "Address out of range";

    for (std::size_t i = 0; i < data->size(); ++i) {
        const std::uint32_t at = *address + std::uint32_t(i);
        const std::uint8_t wanted = (*data)[i];
        if (program) {
            // NOR cells: programming clears bits; only an erase sets them again.
            if (!FConfig.CheckWrites) {
                FFlash[at] &= wanted;
                FProgrammed[at] = true;
                continue;
            }
            if ((FFlash[at] & wanted) != wanted)
                return Format("Program error at address %06X: Wanted: %02X Found: %02X", at, wanted,
                              FFlash[at]);
            FFlash[at] = wanted;
            FProgrammed[at] = true;
        } else if (ReadBack(at) != wanted) {
            return Format("Compare error at address %06X: Expected: %02X Actual: %02X", at, wanted,
                          ReadBack(at));
        }
    }
    return program ? "Done" : "Compare OK";
}

std::uint8_t TSimMonitor::ReadBack(std::uint32_t address) const {
    if (address >= FFlash.size())
        return 0xFF;
    std::uint8_t value = FFlash[address];
    for (const TSimFault& fault : FConfig.Faults) {
        if (fault.Kind == fkMismatch && fault.Value == address)
            value = std::uint8_t(~value);
    }
    return value;
}

void TSimMonitor::Erase() {
    std::fill(FFlash.begin(), FFlash.end(), 0xFF);
    std::fill(FProgrammed.begin(), FProgrammed.end(), false);
}

bool TSimMonitor::IsNthCommand(TSimFaultKind kind) const {
    for (const TSimFault& fault : FConfig.Faults) {
        if (fault.Kind == kind && fault.Value != 0 && FCommandCount % fault.Value == 0)
            return true;
    }
    return false;
}

const TSimFault* TSimMonitor::NthCommandFault(TSimFaultKind kind) const {
    for (const TSimFault& fault : FConfig.Faults) {
        if (fault.Kind == kind && fault.Value == FCommandCount)
            return &fault;
    }
    return nullptr;
}

bool TSimMonitor::HasFault(TSimFaultKind kind) const {
    return std::any_of(FConfig.Faults.begin(), FConfig.Faults.end(),
                       [kind](const TSimFault& fault) { return fault.Kind == kind; });
}

std::string TSimMonitor::Garble(std::string result) {
    // Still one line, so the framing holds and the PC sees a wrong answer rather than a time-out.
    if (result.empty())
        return "?";
    char& first = result.front();
    if (first >= 'a' && first <= 'z')
        first = char(first - 'a' + 'A');
    else if (first >= 'A' && first <= 'Z')
        first = char(first - 'A' + 'a');
    else
        first = '?';
    return result;
}
