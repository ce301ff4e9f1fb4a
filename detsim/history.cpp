#include "detsim/history.h"

#include "detsim/imagepool.h"
#include "detsim/simline.h"
#include "engine/flashengine.h"
#include "protocol/comm_protocol.h"
#include "serial/communit.h"
#include "serial/cpdrv.h"

#include <QRegularExpression>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kRetries = 3; // as tervolt-cli's default
const std::string kDeviceId = "VF040B";
const std::string kManufacturer = "VELUM";

enum class TSimOperation { soProgram, soVerify, soProgramThenVerify };

struct TSetup {
    bool Echo = true;
    bool CheckWrites = true;
    std::uint32_t Baud = 115200;
    TSimOperation Operation = TSimOperation::soProgram;
    std::size_t Image = 0;
    bool BoardHoldsImage = true; // Verify: the board was programmed with the image, else one byte is off
    TLineFaults Faults;
    int StopAfterBlocks = -1;
};

std::uint32_t FaultChance(TDecisions& decisions, std::uint32_t level) {
    return decisions.Chance(500) ? level : 0;
}

TSetup ChooseSetup(TDecisions& decisions) {
    TSetup setup;
    setup.Echo = decisions.Chance(700);
    setup.CheckWrites = decisions.Chance(500);
    setup.Baud = decisions.Chance(850) ? 115200 : 9600;
    setup.Operation = TSimOperation(std::min<std::uint32_t>(decisions.Below(4), 2));
    if (decisions.Chance(250))
        setup.Operation = TSimOperation::soProgramThenVerify;
    setup.Image = decisions.Below(std::uint32_t(SimImagePool().size()));
    setup.BoardHoldsImage = decisions.Chance(650);
    // A quiet line, a few faults, or many.
    const std::uint32_t mix = decisions.Below(10);
    const std::uint32_t level = mix < 2 ? 0 : mix < 7 ? 15 : 60;
    TLineFaults& f = setup.Faults;
    f.DropCommand = FaultChance(decisions, level);
    f.ChangeCommand = FaultChance(decisions, level);
    f.SplitCommand = FaultChance(decisions, level * 3);
    f.DropAnswer = FaultChance(decisions, level);
    f.ChangeAnswer = FaultChance(decisions, level);
    f.SplitAnswer = FaultChance(decisions, level * 3);
    f.DelayAnswer = FaultChance(decisions, level);
    f.DuplicateAnswer = FaultChance(decisions, level);
    f.ReorderAnswer = FaultChance(decisions, level);
    f.ForgeAnswer = FaultChance(decisions, level);
    f.Reset = FaultChance(decisions, level / 3);
    f.Hangup = FaultChance(decisions, level / 10);
    if (!setup.Echo) {
        // Without echo no host can see a command changed on the way, a forged answer of the right
        // kind, an answer held back behind a later one, nor an answer lost and a repeated one in its
        // place: such a board is indistinguishable from one that lies. Verify is the answer there,
        // not the protocol.
        f.ChangeCommand = f.ForgeAnswer = f.ReorderAnswer = 0;
        if (f.DuplicateAnswer != 0)
            f.DropCommand = f.DropAnswer = f.Reset = 0;
    }
    if (decisions.Chance(40))
        setup.StopAfterBlocks = int(decisions.Below(6));
    return setup;
}

// The engine's host, as tervolt-cli is: a few retries a command, then Cancel.
class TSimHost final : public TFlashHost {
public:
    TSimHost(TSimLine& line, int stopAfterBlocks) : FLine(line), FStopAfter(stopAfterBlocks) {}
    bool AskRetry() override {
        if (FLine.AbortFlag().load() || FFailures >= kRetries)
            return false;
        ++FFailures;
        return true;
    }
    void ShowBlockAddress(std::uint32_t) override {
        FFailures = 0;
        ++FBlocks;
    }
    void ShowProgress(std::uint64_t, std::uint64_t) override {}
    void ProcessMessages() override {}
    bool StopRequested() override { return FStopAfter >= 0 && FBlocks > FStopAfter; }
    void ReportOutcome(const TFlashOutcome&) override {}
    void TransferStarting() override { FFailures = 0; }

private:
    TSimLine& FLine;
    int FStopAfter;
    int FFailures = 0;
    int FBlocks = 0;
};

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%06X", value);
    return text;
}

// The monitor's command that writes `bytes` at `address`, built on the board's side of the test.
std::string ProgCommand(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
    std::string command = "P PROG " + Hex(address).substr(2) + ' ';
    for (const std::uint8_t byte : bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        command += digits;
    }
    return command + '\r';
}

std::string Preload(const TPoolImage& image, const TSetup& setup, TDecisions& decisions, TSimMonitor& board) {
    const bool verify = setup.Operation == TSimOperation::soVerify;
    std::string command = "P INIT\r";
    for (const auto& [address, bytes] : image.Segments) {
        std::vector<std::uint8_t> data = bytes;
        if (!verify) {
            for (std::uint8_t& byte : data)
                byte = std::uint8_t(decisions.Below(256));
        }
        command += ProgCommand(address, data);
    }
    std::string note = verify ? "the board holds the image" : "the board holds old data";
    if (verify && !setup.BoardHoldsImage) {
        // One bit of one byte cleared, as a bad cell would.
        const std::size_t segment = decisions.Below(std::uint32_t(image.Segments.size()));
        const auto& [address, bytes] = image.Segments[segment];
        const std::uint32_t offset = decisions.Below(std::uint32_t(bytes.size()));
        note = "the board holds the image but for the byte at " + Hex(address + offset);
        command += "P INIT\r";
        for (std::size_t i = 0; i < image.Segments.size(); ++i) {
            std::vector<std::uint8_t> data = image.Segments[i].second;
            if (i == segment)
                data[offset] = data[offset] == 0 ? 0xFE : std::uint8_t(data[offset] & (data[offset] - 1));
            command += ProgCommand(image.Segments[i].first, data);
        }
    }
    board.Feed(command);
    return note;
}

// Where the board differs from the image at or below `upTo`; nullopt when it holds it.
std::optional<std::uint32_t> Differs(const TPoolImage& image, const std::vector<std::uint8_t>& flash,
                                     std::uint32_t upTo = 0xFFFFFFFF) {
    for (const auto& [address, bytes] : image.Segments) {
        for (std::size_t i = 0; i < bytes.size() && address + i <= upTo; ++i) {
            if (flash[address + i] != bytes[i])
                return std::uint32_t(address + i);
        }
    }
    return std::nullopt;
}

// What is false in a failed Program's FLASH state; empty when it tells the truth.
std::string CheckFlashState(const std::string& state, const TPoolImage& image,
                            const std::vector<std::uint8_t>& before, const std::vector<std::uint8_t>& flash,
                            bool commandsChanged) {
    static const QRegularExpression holds(QStringLiteral("holds the image only up to 0x([0-9A-F]+)\\."));
    static const QRegularExpression partly(
        QStringLiteral("The block up to 0x([0-9A-F]+) went out unconfirmed"));
    const QString text = QString::fromStdString(state);
    // Claims that say they do not hold: everything, or what a changed command may have written.
    if (text.contains(QStringLiteral("may hold wrong data anywhere")) ||
        (commandsChanged && text.contains(QStringLiteral("elsewhere if the line changed it"))))
        return {};
    if (const QRegularExpressionMatch match = holds.match(text); match.hasMatch()) {
        const std::uint32_t upTo = match.captured(1).toUInt(nullptr, 16);
        if (const auto at = Differs(image, flash, upTo))
            return "the FLASH state claims the image up to " + Hex(upTo) + ", but " + Hex(*at) + " differs";
        return {};
    }
    const bool erased = std::all_of(flash.begin(), flash.end(), [](std::uint8_t b) { return b == 0xFF; });
    if (text.startsWith(QStringLiteral("The FLASH may have been erased")))
        return erased || flash == before ? std::string() : "the FLASH state claims nothing was programmed";
    if (text.startsWith(QStringLiteral("The FLASH was erased; nothing was programmed.")))
        return erased ? std::string() : "the FLASH state claims an erased FLASH";
    if (text.startsWith(QStringLiteral("The FLASH was erased; nothing was confirmed."))) {
        const QRegularExpressionMatch match = partly.match(text);
        const std::uint32_t last = match.hasMatch() ? match.captured(1).toUInt(nullptr, 16) : 0;
        for (std::uint32_t at = 0; at < flash.size(); ++at) {
            const bool inBlock = at <= last && last - at < 200;
            if (flash[at] != 0xFF && !inBlock)
                return "the FLASH state claims nothing but one block was written, but " + Hex(at) + " was";
        }
        return {};
    }
    return "a FLASH state the check does not know: " + state;
}

} // namespace

THistoryResult RunHistory(TDecisions& decisions, bool keepTrace) {
    const TSetup setup = ChooseSetup(decisions);
    const TPoolImage& image = SimImagePool()[setup.Image];
    TSimConfig board;
    board.DeviceId = kDeviceId;
    board.Manufacturer = kManufacturer;
    board.Size = kSimFlashBytes;
    board.Echo = setup.Echo;
    board.CheckWrites = setup.CheckWrites;
    TSimLine line(decisions, board, setup.Baud, setup.Faults, keepTrace);
    const std::string preload = Preload(image, setup, decisions, line.Board());
    const std::vector<std::uint8_t> before = line.Board().Flash();
    {
        static const char* const kOperations[] = {"Program", "Verify", "Program, then Verify"};
        const TLineFaults& f = setup.Faults;
        line.Note(std::string(kOperations[int(setup.Operation)]) + " image " + std::to_string(setup.Image) +
                  " at " + std::to_string(setup.Baud) + " baud; the board " +
                  (setup.Echo ? "echoes" : "does not echo") +
                  (setup.CheckWrites ? " and checks its writes; " : " and writes blindly; ") + preload);
        line.Note("faults in thousandths: drop " + std::to_string(f.DropCommand) + '/' +
                  std::to_string(f.DropAnswer) + ", change " + std::to_string(f.ChangeCommand) + '/' +
                  std::to_string(f.ChangeAnswer) + ", split " + std::to_string(f.SplitCommand) + '/' +
                  std::to_string(f.SplitAnswer) + ", late " + std::to_string(f.DelayAnswer) + ", twice " +
                  std::to_string(f.DuplicateAnswer) + ", reorder " + std::to_string(f.ReorderAnswer) +
                  ", forged " + std::to_string(f.ForgeAnswer) + ", reset " + std::to_string(f.Reset) +
                  ", hang-up " + std::to_string(f.Hangup) +
                  (setup.StopAfterBlocks >= 0 ? "; Stop after block " + std::to_string(setup.StopAfterBlocks)
                                              : std::string()));
    }

    THistoryResult result;
    TCommProtocol protocol(line.CreateClock());
    TCommPortDriver& driver = *protocol.CommUnit()->CommPortDriver();
    driver.UsePort(line.CreatePort());
    driver.SetBaudRate(setup.Baud == 9600 ? br9600 : br115200);
    line.AttachDriver(&driver);
    protocol.SetAbortFlag(&line.AbortFlag());
    bool ready = driver.Connect();
    // As tervolt-cli: find the monitor, then the chip, each with its retries.
    bool pinged = false;
    for (int attempt = 0; ready && attempt <= kRetries && !pinged && driver.Connected(); ++attempt)
        pinged = protocol.PingTarget();
    QByteArray deviceId;
    QByteArray manufacturer;
    bool identified = false;
    for (int attempt = 0; pinged && attempt <= kRetries && !identified && !protocol.LineFailed(); ++attempt)
        identified = protocol.IdentifyFlash(deviceId, manufacturer);
    ready = identified && deviceId.toStdString() == kDeviceId && manufacturer.toStdString() == kManufacturer;
    line.Note(!pinged ? "no target: " + protocol.LastFailure().toStdString()
              : ready ? "identified"
                      : "not identified: " + protocol.LastFailure().toStdString());

    if (ready) {
        TImageSource source;
        source.Format = TImageFormat::IntelExtended;
        source.Snapshot = image.Snapshot;
        TSimHost host(line, setup.StopAfterBlocks);
        TFlashEngine engine(protocol, host);
        const bool program = setup.Operation != TSimOperation::soVerify;
        TFlashOutcome outcome =
            engine.Run(program ? TFlashOperation::foProgram : TFlashOperation::foVerify, source);
        const std::vector<std::uint8_t>& flash = line.Board().Flash();
        const auto differs = Differs(image, flash);
        result.Outcome = outcome.Text.toStdString();
        if (!outcome.FlashState.isEmpty())
            result.Outcome += " | " + outcome.FlashState.toStdString();
        line.Note("outcome: " + result.Outcome);
        if ((outcome.Kind == TOutcomeKind::okProgramDone || outcome.Kind == TOutcomeKind::okCompareDone) &&
            differs) {
            result.Violation = "\"" + outcome.Text.toStdString() +
                               "\" but the board differs from the image at " + Hex(*differs);
        } else if (outcome.Kind == TOutcomeKind::okCompareError && !differs &&
                   line.MisleadingAnswers() == 0) {
            result.Violation = "a mismatch at " + Hex(outcome.Compare.Address) +
                               " reported for a board that holds the image, with no answer changed or forged";
        } else if (program && outcome.Kind != TOutcomeKind::okProgramDone &&
                   outcome.Kind != TOutcomeKind::okImageError) {
            result.Violation = CheckFlashState(outcome.FlashState.toStdString(), image, before, flash,
                                               line.ChangedCommands() != 0);
        }
        if (result.Violation.empty() && setup.Operation == TSimOperation::soProgramThenVerify &&
            outcome.Kind == TOutcomeKind::okProgramDone) {
            outcome = engine.Run(TFlashOperation::foVerify, source);
            line.Note("outcome of the Verify: " + outcome.Text.toStdString());
            result.Outcome += " / " + outcome.Text.toStdString();
            if (outcome.Kind == TOutcomeKind::okCompareDone && differs)
                result.Violation = "\"Compare OK!\" but the board differs from the image at " + Hex(*differs);
            else if (outcome.Kind == TOutcomeKind::okCompareError && !differs &&
                     line.MisleadingAnswers() == 0)
                result.Violation = "a mismatch reported for a board that holds the image";
        }
    }
    if (line.Hung())
        result.Violation = "the run did not end within " + std::to_string(TSimLine::kMaxSimUs / 1000000) +
                           " s of simulated time";
    else if (line.Spun())
        result.Violation = "the run waited more than " + std::to_string(TSimLine::kMaxWaits) + " times";
    result.Violated = !result.Violation.empty();
    if (result.Violated)
        line.Note("VIOLATED: " + result.Violation);
    result.SimUs = line.NowUs();
    result.Waits = line.Waits();
    result.Trace = line.Trace();
    return result;
}

THistoryResult RunSeededHistory(std::uint64_t seed, bool keepTrace) {
    TSeededDecisions decisions(seed);
    return RunHistory(decisions, keepTrace);
}
