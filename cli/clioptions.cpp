#include "cli/clioptions.h"

#include "app/startaddress.h"
#include "app/version.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace {

const char* const kCommandsHelp = R"(Commands:
  ping                      exit 0 when a monitor answers
  identify                  print the chip's manufacturer and device id and whether the pair is listed
  program FILE              identify, then program the image
  verify FILE               identify, then verify the image
  blocks FILE               no port: print each block command line that program would send
                            (with --verify: those of verify), exactly as sent but without the CR
  ports                     list the serial devices present and the COMn names that map to them

Exit status: 0 success, 1 compare mismatch, 2 image file error, 3 communication failure,
4 chip not identified or not listed, 5 interrupted, 64 usage error.
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

} // namespace

int DefaultFileFormat(const QString& fileName) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    return suffix == QLatin1String("rbf") || suffix == QLatin1String("bin") ? 2 : 1;
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
                                        QStringLiteral("COMn (mapped through the settings) or a device path."),
                                        QStringLiteral("PORT"));
    const QCommandLineOption baudOption(QStringLiteral("baud"), QStringLiteral("Line rate in bit/s."),
                                        QStringLiteral("RATE"));
    const QCommandLineOption devicesOption(QStringLiteral("devices"),
                                           QStringLiteral("Device list (default: devices.tervolt beside "
                                                          "the program, then in the installed data folder)."),
                                           QStringLiteral("FILE"));
    const QCommandLineOption formatOption(QStringLiteral("format"),
                                          QStringLiteral("Image format: hex or bin (default: bin for .rbf "
                                                         "and .bin, hex otherwise)."),
                                          QStringLiteral("hex|bin"));
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
                                          QStringLiteral("blocks: print the commands of verify."));
    const QCommandLineOption quietOption(QStringLiteral("quiet"), QStringLiteral("No progress output."));
    parser.addOptions({helpOption, versionOption, portOption, baudOption, devicesOption, formatOption,
                       startOption, sizeHeaderOption, noSizeHeaderOption, retriesOption, verifyOption,
                       quietOption});
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
        options.FileFormat = DefaultFileFormat(options.FileName);
    }
    // An empty value is mostly an unset variable in a script: it must not mean "the default".
    for (const QCommandLineOption* named : {&portOption, &devicesOption})
        if (parser.isSet(*named) && parser.value(*named).isEmpty())
            return UsageError(QStringLiteral("empty value for --%1").arg(named->names().constFirst()));
    options.Port = parser.value(portOption);
    options.DevicesFile = parser.value(devicesOption);
    options.Quiet = parser.isSet(quietOption);
    options.Verify = parser.isSet(verifyOption);

    if (parser.isSet(baudOption)) {
        bool ok = false;
        const uint baud = parser.value(baudOption).toUInt(&ok);
        if (!ok || baud == 0)
            return UsageError(QStringLiteral("invalid baud rate '%1'").arg(parser.value(baudOption)));
        options.Baud = baud;
    }
    if (parser.isSet(formatOption)) {
        const QString format = parser.value(formatOption);
        if (format == QLatin1String("hex"))
            options.FileFormat = 1;
        else if (format == QLatin1String("bin"))
            options.FileFormat = 2;
        else
            return UsageError(QStringLiteral("invalid format '%1' (hex or bin)").arg(format));
    }
    // The load address and the size header belong to binary images; anywhere else they would be
    // ignored without a word.
    const bool binary = command->NeedsFile && options.FileFormat == 2;
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
