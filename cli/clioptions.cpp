#include "cli/clioptions.h"

#include "common/version.h"
#include "engine/startaddress.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

const char* const kCommandsHelp = R"(Commands:
  ping                      exit 0 when a monitor answers
  identify                  print the chip's manufacturer and device id and whether the pair is listed
  program FILE              identify, then program the image (with --verify: then verify it too)
  verify FILE               identify, then verify the image
  blocks FILE               no port: print each block command line that program would send
                            (with --verify: those of verify), exactly as sent but without the CR
  ports                     list the serial devices present and the COMn names that map to them

Several boards: give --port once for each, or --ports A,B,C; all of them run at the same time,
each with its own retries and outcome, and a summary table ends the output. --port auto takes the
one port whose monitor answers (with --all: every such port). Every other option is given once.

--trace FILE takes a regular file (appended to, each run after a header line), a named pipe, or -
for standard error; never the image, the device list, the settings file, a port or another device.

Exit status: 0 success, 1 compare mismatch, 2 image file error, 3 communication failure,
4 chip not identified or not listed, 5 interrupted, 6 device list missing or unreadable,
64 usage error. With several boards: 0 only when every board succeeded, else the most serious of
theirs, in the order 5, 2, 6, 3, 4, 1.
The last line on standard output is the outcome message; progress goes to standard error.)";

struct TCommandName {
    const char* Name;
    TCliCommand Command;
    bool NeedsFile;
};

constexpr TCommandName kCommands[] = {
    {"ping", TCliCommand::ccPing, false},      {"identify", TCliCommand::ccIdentify, false},
    {"program", TCliCommand::ccProgram, true}, {"verify", TCliCommand::ccVerify, true},
    {"blocks", TCliCommand::ccBlocks, true},   {"ports", TCliCommand::ccPorts, false},
};

using TApply = std::optional<QString> (*)(const QString& value, TCliOptions& options);

// One row an option. A switch (no ValueName) is applied with an empty value. Options without Apply
// are read elsewhere (help, version, the ports, whose order across two options matters).
struct TOptionRow {
    const char* Name;
    const char* ValueName;
    const char* Help;
    bool Repeatable;
    TApply Apply;
};

std::optional<QString> ApplyBaud(const QString& value, TCliOptions& options) {
    bool ok = false;
    const uint baud = value.toUInt(&ok);
    if (!ok || baud == 0)
        return QStringLiteral("invalid baud rate '%1'").arg(value);
    options.Baud = baud;
    return std::nullopt;
}

std::optional<QString> ApplyFormat(const QString& value, TCliOptions& options) {
    const std::optional<TImageFormat> named = ImageFormatFromName(value);
    if (!named)
        return QStringLiteral("invalid format '%1' (auto, hex, ihex, srec, elf or bin)").arg(value);
    options.FileFormat = *named;
    options.FormatGiven = true;
    return std::nullopt;
}

std::optional<QString> ApplyStartAddress(const QString& value, TCliOptions& options) {
    const std::optional<std::int32_t> address = ParseStartAddress(value);
    if (!address)
        return StartAddressErrorText(value);
    options.StartAddress = static_cast<std::uint32_t>(*address);
    return std::nullopt;
}

std::optional<QString> ApplyRetries(const QString& value, TCliOptions& options) {
    bool ok = false;
    const int retries = value.toInt(&ok);
    if (!ok || retries < 0)
        return QStringLiteral("invalid retry count '%1'").arg(value);
    options.Retries = retries;
    return std::nullopt;
}

// Switches and plain values: the option sets one field.
template <auto Field, bool Value> std::optional<QString> SetSwitch(const QString&, TCliOptions& options) {
    options.*Field = Value;
    return std::nullopt;
}

template <auto Field> std::optional<QString> SetText(const QString& value, TCliOptions& options) {
    options.*Field = value;
    return std::nullopt;
}

const TOptionRow kOptions[] = {
    {"port", "PORT",
     "COMn (mapped through the settings), a device path, rfc2217://HOST:PORT or socket://HOST:PORT "
     "(a serial server), or auto. Give it once for each board.",
     true, nullptr},
    {"ports", "A,B,C", "Several boards at once: ports separated by commas.", true, nullptr},
    {"all", nullptr, "With --port auto: every port whose monitor answers.", false,
     SetSwitch<&TCliOptions::AllPorts, true>},
    {"baud", "RATE", "Line rate in bit/s.", false, ApplyBaud},
    {"devices", "FILE",
     "Device list (default: devices.tervolt beside the program, then in the installed data folder).", false,
     SetText<&TCliOptions::DevicesFile>},
    {"format", "FORMAT",
     "Image format: auto (the default: Intel HEX, S-record or ELF by the content, bin for .rbf and .bin; a "
     ".bin file that is a whole image of another format is refused unless --format is given), ihex (Intel "
     "HEX, records 00-05), hex (Intel HEX, records 00-03 only), srec (S19/S28/S37), elf or bin.",
     false, ApplyFormat},
    {"start-address", "HEX", "Load address of a binary image, hexadecimal.", false, ApplyStartAddress},
    {"size-header", nullptr, "Write the file size in front of a binary image (default).", false,
     SetSwitch<&TCliOptions::WriteSizeHeader, true>},
    {"no-size-header", nullptr, "Do not write the file size.", false,
     SetSwitch<&TCliOptions::WriteSizeHeader, false>},
    {"retries", "N", "Times a failed command is repeated (default 3).", false, ApplyRetries},
    {"verify", nullptr,
     "program: verify the image after programming it; blocks: print the commands of verify.", false,
     SetSwitch<&TCliOptions::Verify, true>},
    {"trace", "FILE",
     "Write every command sent and every byte received, with times and ports, to FILE (- for standard "
     "error).",
     false, SetText<&TCliOptions::TraceFile>},
    {"json", nullptr, "Print the result as one JSON object on standard output.", false,
     SetSwitch<&TCliOptions::Json, true>},
    {"quiet", nullptr, "No progress output.", false, SetSwitch<&TCliOptions::Quiet, true>},
};

// Options that only a board gives a meaning to, and those that only an image file does.
constexpr const char* kBoardOptions[] = {"all", "baud", "trace", "json"};
constexpr const char* kImageOptions[] = {"format", "start-address", "size-header", "no-size-header"};
constexpr const char* kBinaryOptions[] = {"start-address", "size-header", "no-size-header"};

TCliParseResult UsageError(const QString& message) {
    TCliParseResult result;
    result.ExitStatus = esUsage;
    result.Reason = message;
    result.Error = QStringLiteral("tervolt-cli: ") + message + QStringLiteral("\nTry 'tervolt-cli --help'.");
    return result;
}

// The values of --port and --ports as they stand on the command line, in that order (the parser
// gives each option's values apart). `arguments` starts with the program's name.
QStringList PortValuesInOrder(const QStringList& arguments) {
    QStringList values;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--"))
            break;
        for (const QLatin1String name : {QLatin1String("--port"), QLatin1String("--ports")}) {
            if (argument == name && i + 1 < arguments.size())
                values << argument + QLatin1Char('=') + arguments.at(++i);
            else if (argument.startsWith(name + QLatin1Char('=')))
                values << argument;
        }
    }
    return values;
}

// The boards' ports from every --port and --ports, in the order given.
std::optional<QString> TakePorts(const QStringList& arguments, const QStringList& portValues,
                                 const QStringList& portsValues, TCliOptions& options) {
    QStringList given;
    for (const QString& value : portValues)
        given << QStringLiteral("--port=") + value;
    for (const QString& value : portsValues)
        given << QStringLiteral("--ports=") + value;
    // The parser's values are the truth; the scan only orders them, and only when it found the same.
    QStringList ordered = PortValuesInOrder(arguments);
    if (ordered.size() != given.size() ||
        !std::is_permutation(ordered.begin(), ordered.end(), given.begin(), given.end()))
        ordered = given;
    QStringList ports;
    for (const QString& value : ordered) {
        const qsizetype equals = value.indexOf(QLatin1Char('='));
        const QString text = value.mid(equals + 1);
        if (value.left(equals) == QLatin1String("--port")) {
            ports << text;
            continue;
        }
        const QStringList items = text.split(QLatin1Char(','));
        if (items.contains(QString()))
            return QStringLiteral("empty port in --ports '%1'").arg(ShownName(text));
        ports += items;
    }
    for (qsizetype i = 0; i < ports.size(); ++i) {
        if (ports.indexOf(ports.at(i)) != i)
            return QStringLiteral("port '%1' given twice").arg(ShownName(ports.at(i)));
    }
    if (ports.contains(QStringLiteral("auto"))) {
        if (ports.size() > 1)
            return QStringLiteral("--port auto finds the ports itself: no other port with it");
        options.AutoPort = true;
        return std::nullopt;
    }
    options.Ports = ports;
    return std::nullopt;
}

struct TParser {
    QCommandLineParser Parser;
    QCommandLineOption Help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help.")};
    QCommandLineOption Version{QStringLiteral("version"), QStringLiteral("Show the version.")};
    std::vector<QCommandLineOption> Rows;

    TParser() {
        Parser.setApplicationDescription(
            QStringLiteral("Programs and verifies the FLASH of a target board over a serial line.\n\n") +
            QString::fromLatin1(kCommandsHelp));
        Parser.addOption(Help);
        Parser.addOption(Version);
        for (const TOptionRow& row : kOptions) {
            Rows.emplace_back(QString::fromLatin1(row.Name), QString::fromLatin1(row.Help),
                              row.ValueName ? QString::fromLatin1(row.ValueName) : QString());
            Parser.addOption(Rows.back());
        }
        Parser.addPositionalArgument(QStringLiteral("COMMAND"),
                                     QStringLiteral("ping, identify, program, verify, blocks or ports."));
        Parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("Image file."),
                                     QStringLiteral("[FILE]"));
    }

    bool IsSet(const char* name) const { return Parser.isSet(QString::fromLatin1(name)); }
};

// The command and its image file from the positional arguments.
std::optional<QString> TakeCommand(const QStringList& positional, const TCommandName*& command) {
    if (positional.isEmpty())
        return QStringLiteral("no command given");
    for (const TCommandName& candidate : kCommands)
        if (positional.first() == QLatin1String(candidate.Name))
            command = &candidate;
    if (!command)
        return QStringLiteral("unknown command '%1'").arg(positional.first());
    const qsizetype wanted = command->NeedsFile ? 2 : 1;
    if (positional.size() < wanted)
        return QStringLiteral("'%1' needs an image file").arg(positional.first());
    if (positional.size() > wanted)
        return QStringLiteral("unexpected argument '%1'").arg(positional.at(wanted));
    return std::nullopt;
}

// Every option of the table: given at most once unless repeatable, never empty, then applied.
std::optional<QString> ApplyOptions(const TParser& parser, TCliOptions& options) {
    for (size_t i = 0; i < std::size(kOptions); ++i) {
        const TOptionRow& row = kOptions[i];
        const QStringList values = parser.Parser.values(parser.Rows[i]);
        if (!row.Repeatable && values.size() > 1)
            return QStringLiteral("--%1 given more than once").arg(QLatin1String(row.Name));
        // An empty value is mostly an unset variable in a script: it must not mean "the default".
        for (const QString& value : values)
            if (row.ValueName && value.isEmpty())
                return QStringLiteral("empty value for --%1").arg(QLatin1String(row.Name));
        if (row.Apply && parser.Parser.isSet(parser.Rows[i]))
            if (std::optional<QString> error = row.Apply(values.value(0), options))
                return error;
    }
    return std::nullopt;
}

// Options that mean nothing with the command, or with each other, are refused rather than ignored.
std::optional<QString> CheckCombinations(const TParser& parser, const TCommandName& command,
                                         const TCliOptions& options) {
    const QString name = QLatin1String(command.Name);
    if (options.AllPorts && !options.AutoPort)
        return QStringLiteral("--all goes with --port auto");
    if (options.Verify && command.Command != TCliCommand::ccProgram &&
        command.Command != TCliCommand::ccBlocks)
        return QStringLiteral("--verify applies to program and blocks only");
    if (!CommandUsesBoard(command.Command)) {
        if (!options.Ports.isEmpty() || options.AutoPort)
            return QStringLiteral("--port needs a board: not with '%1'").arg(name);
        for (const char* option : kBoardOptions)
            if (parser.IsSet(option))
                return QStringLiteral("--%1 needs a board: not with '%2'").arg(QLatin1String(option), name);
    }
    if (!command.NeedsFile) {
        for (const char* option : kImageOptions)
            if (parser.IsSet(option))
                return QStringLiteral("--%1 applies to an image file: not with '%2'")
                    .arg(QLatin1String(option), name);
    }
    // The load address and the size header belong to binary images; anywhere else they would be
    // ignored without a word.
    const bool binary = options.FileFormat == TImageFormat::Binary ||
                        (options.FileFormat == TImageFormat::Auto &&
                         ImageFormatOfFileName(options.FileName) == TImageFormat::Binary);
    if (!binary) {
        for (const char* option : kBinaryOptions)
            if (parser.IsSet(option))
                return QStringLiteral("--%1 applies to binary images only (--format bin)")
                    .arg(QLatin1String(option));
    }
    if (parser.IsSet("size-header") && parser.IsSet("no-size-header"))
        return QStringLiteral("--size-header and --no-size-header exclude each other");
    return std::nullopt;
}

// Before the parser has decided anything: did the user ask for JSON?
bool JsonAskedFor(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size() && arguments.at(i) != QLatin1String("--"); ++i)
        if (arguments.at(i) == QLatin1String("--json"))
            return true;
    return false;
}

TCliParseResult Parse(const QStringList& arguments) {
    TParser parser;
    if (!parser.Parser.parse(arguments))
        return UsageError(parser.Parser.errorText());
    TCliParseResult result;
    if (parser.Parser.isSet(parser.Help)) {
        result.Output = parser.Parser.helpText();
        return result;
    }
    if (parser.Parser.isSet(parser.Version)) {
        result.Output = QStringLiteral("tervolt-cli %1\n").arg(QLatin1String(kTervoltVersion));
        return result;
    }
    const QStringList positional = parser.Parser.positionalArguments();
    const TCommandName* command = nullptr;
    if (std::optional<QString> error = TakeCommand(positional, command))
        return UsageError(*error);

    TCliOptions options;
    options.Command = command->Command;
    if (command->NeedsFile)
        options.FileName = positional.at(1);
    std::optional<QString> error = ApplyOptions(parser, options);
    if (!error)
        error = TakePorts(arguments, parser.Parser.values(QStringLiteral("port")),
                          parser.Parser.values(QStringLiteral("ports")), options);
    if (!error)
        error = CheckCombinations(parser, *command, options);
    if (error)
        return UsageError(*error);
    result.Options = options;
    return result;
}

} // namespace

QString ShownName(const QString& name) {
    static const char kHex[] = "0123456789ABCDEF";
    QString shown;
    shown.reserve(name.size());
    for (const QChar c : name) {
        const char16_t code = c.unicode();
        if (code == u'\n')
            shown += QLatin1String("\\n");
        else if (code == u'\r')
            shown += QLatin1String("\\r");
        else if (code == u'\t')
            shown += QLatin1String("\\t");
        else if (code < 0x20 || code == 0x7F || (code >= 0x80 && code < 0xA0))
            shown += QLatin1String("\\x") + QLatin1Char(kHex[code >> 4]) + QLatin1Char(kHex[code & 0x0F]);
        else
            shown += c;
    }
    return shown;
}

bool CommandUsesBoard(TCliCommand command) {
    return command != TCliCommand::ccBlocks && command != TCliCommand::ccPorts;
}

TCliParseResult ParseCliArguments(const QStringList& arguments) {
    TCliParseResult result = Parse(arguments);
    result.Json =
        result.Options ? result.Options->Json : result.ExitStatus == esUsage && JsonAskedFor(arguments);
    return result;
}
