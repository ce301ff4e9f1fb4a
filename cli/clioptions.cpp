#include "cli/clioptions.h"

#include "app/startaddress.h"
#include "app/version.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <algorithm>
#include <utility>

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
one port whose monitor answers (with --all: every such port).

Exit status: 0 success, 1 compare mismatch, 2 image file error, 3 communication failure,
4 chip not identified or not listed, 5 interrupted, 64 usage error. With several boards: 0 only
when every board succeeded, else the most serious of theirs, in the order 5, 2, 3, 4, 1.
The last line on standard output is the outcome message; progress goes to standard error.)";

struct TCommandName {
    const char* Name;
    TCliCommand Command;
    bool NeedsFile;
};

constexpr TCommandName kCommands[] = {
    {"ping", TCliCommand::ccPing, false},       {"identify", TCliCommand::ccIdentify, false},
    {"program", TCliCommand::ccProgram, true},  {"verify", TCliCommand::ccVerify, true},
    {"blocks", TCliCommand::ccBlocks, true},    {"ports", TCliCommand::ccPorts, false},
};

TCliParseResult UsageError(const QString& message) {
    TCliParseResult result;
    result.ExitStatus = esUsage;
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
            return QStringLiteral("empty port in --ports '%1'").arg(text);
        ports += items;
    }
    for (qsizetype i = 0; i < ports.size(); ++i) {
        if (ports.indexOf(ports.at(i)) != i)
            return QStringLiteral("port '%1' given twice").arg(ports.at(i));
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

} // namespace

bool CommandUsesBoard(TCliCommand command) {
    return command != TCliCommand::ccBlocks && command != TCliCommand::ccPorts;
}

TCliParseResult ParseCliArguments(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Programs and verifies the FLASH of a target board over a serial line.\n\n") +
        QString::fromLatin1(kCommandsHelp));
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this help."));
    const QCommandLineOption versionOption(QStringLiteral("version"), QStringLiteral("Show the version."));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("COMn (mapped through the settings), a device path, or "
                                                       "auto. Give it once for each board."),
                                        QStringLiteral("PORT"));
    const QCommandLineOption portsOption(QStringLiteral("ports"),
                                         QStringLiteral("Several boards at once: ports separated by commas."),
                                         QStringLiteral("A,B,C"));
    const QCommandLineOption allOption(QStringLiteral("all"),
                                       QStringLiteral("With --port auto: every port whose monitor answers."));
    const QCommandLineOption traceOption(QStringLiteral("trace"),
                                         QStringLiteral("Write every command sent and every byte received, "
                                                        "with times and ports, to FILE."),
                                         QStringLiteral("FILE"));
    const QCommandLineOption jsonOption(QStringLiteral("json"),
                                        QStringLiteral("Print the result as one JSON object on standard "
                                                       "output."));
    const QCommandLineOption baudOption(QStringLiteral("baud"), QStringLiteral("Line rate in bit/s."),
                                        QStringLiteral("RATE"));
    const QCommandLineOption devicesOption(QStringLiteral("devices"),
                                           QStringLiteral("Device list (default: devices.tervolt beside "
                                                          "the program, then in the installed data folder)."),
                                           QStringLiteral("FILE"));
    const QCommandLineOption formatOption(
        QStringLiteral("format"),
        QStringLiteral("Image format: auto (the default: bin for .rbf and .bin, "
                       "else Intel HEX, S-record or ELF by the first "
                       "bytes), ihex (Intel HEX, records 00-05), hex "
                       "(Intel HEX, records 00-03 only), srec "
                       "(S19/S28/S37), elf or bin."),
        QStringLiteral("FORMAT"));
    const QCommandLineOption startOption(QStringLiteral("start-address"),
                                         QStringLiteral("Load address of a binary image, hexadecimal."),
                                         QStringLiteral("HEX"));
    const QCommandLineOption sizeHeaderOption(QStringLiteral("size-header"),
                                              QStringLiteral("Write the file size in front of a binary image "
                                                             "(default)."));
    const QCommandLineOption noSizeHeaderOption(QStringLiteral("no-size-header"),
                                                QStringLiteral("Do not write the file size."));
    const QCommandLineOption retriesOption(QStringLiteral("retries"),
                                           QStringLiteral("Times a failed command is repeated (default 3)."),
                                           QStringLiteral("N"));
    const QCommandLineOption verifyOption(QStringLiteral("verify"),
                                          QStringLiteral("program: verify the image after programming it; "
                                                         "blocks: print the commands of verify."));
    const QCommandLineOption quietOption(QStringLiteral("quiet"), QStringLiteral("No progress output."));
    parser.addOptions({helpOption, versionOption, portOption, portsOption, allOption, baudOption, devicesOption,
                       formatOption, startOption, sizeHeaderOption, noSizeHeaderOption, retriesOption,
                       verifyOption, traceOption, jsonOption, quietOption});
    parser.addPositionalArgument(QStringLiteral("COMMAND"), QStringLiteral("ping, identify, program, verify, "
                                                                           "blocks or ports."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("Image file."), QStringLiteral("[FILE]"));

    if (!parser.parse(arguments))
        return UsageError(parser.errorText());

    TCliParseResult result;
    if (parser.isSet(helpOption)) {
        result.Output = parser.helpText();
        return result;
    }
    if (parser.isSet(versionOption)) {
        result.Output = QStringLiteral("tervolt-cli %1\n").arg(QLatin1String(kTervoltVersion));
        return result;
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return UsageError(QStringLiteral("no command given"));
    const TCommandName* command = nullptr;
    for (const TCommandName& candidate : kCommands)
        if (positional.first() == QLatin1String(candidate.Name))
            command = &candidate;
    if (!command)
        return UsageError(QStringLiteral("unknown command '%1'").arg(positional.first()));
    const qsizetype wanted = command->NeedsFile ? 2 : 1;
    if (positional.size() < wanted)
        return UsageError(QStringLiteral("'%1' needs an image file").arg(positional.first()));
    if (positional.size() > wanted)
        return UsageError(QStringLiteral("unexpected argument '%1'").arg(positional.at(wanted)));

    TCliOptions options;
    options.Command = command->Command;
    if (command->NeedsFile) {
        options.FileName = positional.at(1);
    }
    // An empty value is mostly an unset variable in a script: it must not mean "the default".
    for (const QCommandLineOption* named : {&portOption, &portsOption, &devicesOption, &traceOption})
        for (const QString& value : parser.values(*named))
            if (value.isEmpty())
                return UsageError(QStringLiteral("empty value for --%1").arg(named->names().constFirst()));
    if (std::optional<QString> error = TakePorts(arguments, parser.values(portOption), parser.values(portsOption), options))
        return UsageError(*error);
    options.AllPorts = parser.isSet(allOption);
    if (options.AllPorts && !options.AutoPort)
        return UsageError(QStringLiteral("--all goes with --port auto"));
    options.DevicesFile = parser.value(devicesOption);
    options.Quiet = parser.isSet(quietOption);
    options.Verify = parser.isSet(verifyOption);
    options.TraceFile = parser.value(traceOption);
    options.Json = parser.isSet(jsonOption);
    if (options.Verify && command->Command != TCliCommand::ccProgram && command->Command != TCliCommand::ccBlocks)
        return UsageError(QStringLiteral("--verify applies to program and blocks only"));
    // What only a board gives: a port list, a trace of the line, a result per board.
    if (!CommandUsesBoard(command->Command)) {
        const bool severalPorts = options.Ports.size() > 1 || options.AutoPort;
        for (const auto& [used, name] : {std::pair{severalPorts, "several ports or --port auto"},
                                         std::pair{options.AllPorts, "--all"},
                                         std::pair{!options.TraceFile.isEmpty(), "--trace"},
                                         std::pair{options.Json, "--json"}})
            if (used)
                return UsageError(QStringLiteral("%1 needs a board: not with '%2'")
                                      .arg(QLatin1String(name), positional.first()));
    }

    if (parser.isSet(baudOption)) {
        bool ok = false;
        const uint baud = parser.value(baudOption).toUInt(&ok);
        if (!ok || baud == 0)
            return UsageError(QStringLiteral("invalid baud rate '%1'").arg(parser.value(baudOption)));
        options.Baud = baud;
    }
    if (parser.isSet(formatOption)) {
        const QString format = parser.value(formatOption);
        const std::optional<TImageFormat> named = ImageFormatFromName(format);
        if (!named)
            return UsageError(
                QStringLiteral("invalid format '%1' (auto, hex, ihex, srec, elf or bin)").arg(format));
        options.FileFormat = *named;
    }
    // The load address and the size header belong to binary images; anywhere else they would be
    // ignored without a word.
    const bool binary =
        command->NeedsFile && (options.FileFormat == TImageFormat::Binary ||
                               (options.FileFormat == TImageFormat::Auto &&
                                ImageFormatOfFileName(options.FileName) == TImageFormat::Binary));
    for (const QCommandLineOption* binaryOnly : {&startOption, &sizeHeaderOption, &noSizeHeaderOption})
        if (parser.isSet(*binaryOnly) && !binary)
            return UsageError(QStringLiteral("--%1 applies to binary images only (--format bin)")
                                  .arg(binaryOnly->names().constFirst()));
    if (parser.isSet(startOption)) {
        const QString typed = parser.value(startOption);
        const std::optional<std::int32_t> address = ParseStartAddress(typed);
        if (!address)
            return UsageError(StartAddressErrorText(typed));
        options.StartAddress = static_cast<std::uint32_t>(*address);
    }
    if (parser.isSet(sizeHeaderOption) && parser.isSet(noSizeHeaderOption))
        return UsageError(QStringLiteral("--size-header and --no-size-header exclude each other"));
    options.WriteSizeHeader = !parser.isSet(noSizeHeaderOption);
    if (parser.isSet(retriesOption)) {
        bool ok = false;
        const int retries = parser.value(retriesOption).toInt(&ok);
        if (!ok || retries < 0)
            return UsageError(QStringLiteral("invalid retry count '%1'").arg(parser.value(retriesOption)));
        options.Retries = retries;
    }
    result.Options = options;
    return result;
}
