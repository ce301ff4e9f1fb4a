#include "image/imageformat.h"

#include <QFileInfo>

#include <array>
#include <cstring>
#include <utility>

namespace {

constexpr std::array<std::pair<TImageFormat, const char*>, 6> kNames{{
    {TImageFormat::Auto, "auto"},
    {TImageFormat::IntelExtended, "hex"},
    {TImageFormat::IntelHex, "ihex"},
    {TImageFormat::SRecord, "srec"},
    {TImageFormat::Elf, "elf"},
    {TImageFormat::Binary, "bin"},
}};

constexpr char kElfMagic[] = "\x7f"
                             "ELF";
constexpr std::size_t kElfMagicLength = 4;

} // namespace

QString ImageFormatName(TImageFormat format) {
    for (const auto& [value, name] : kNames)
        if (value == format)
            return QLatin1String(name);
    return QString();
}

std::optional<TImageFormat> ImageFormatFromName(const QString& name) {
    for (const auto& [value, text] : kNames)
        if (name == QLatin1String(text))
            return value;
    return std::nullopt;
}

TImageFormat ImageFormatOfFileName(const QString& fileName) {
    return ImageFormatNamed(fileName) == TImageFormat::Binary ? TImageFormat::Binary : TImageFormat::Auto;
}

TImageFormat ImageFormatNamed(const QString& fileName) {
    static const std::array<std::pair<const char*, TImageFormat>, 13> kExtensions{{
        {"hex", TImageFormat::IntelHex},
        {"ihx", TImageFormat::IntelHex},
        {"ihex", TImageFormat::IntelHex},
        {"mcs", TImageFormat::IntelHex},
        {"s19", TImageFormat::SRecord},
        {"s28", TImageFormat::SRecord},
        {"s37", TImageFormat::SRecord},
        {"srec", TImageFormat::SRecord},
        {"mot", TImageFormat::SRecord},
        {"elf", TImageFormat::Elf},
        {"axf", TImageFormat::Elf},
        {"bin", TImageFormat::Binary},
        {"rbf", TImageFormat::Binary},
    }};
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    for (const auto& [extension, format] : kExtensions)
        if (suffix == QLatin1String(extension))
            return format;
    return TImageFormat::Auto;
}

TImageFormat FormatOfHead(const std::uint8_t* head, std::size_t length) {
    if (length >= 1 && head[0] == ':')
        return TImageFormat::IntelHex;
    if (length >= 2 && head[0] == 'S' && head[1] >= '0' && head[1] <= '9')
        return TImageFormat::SRecord;
    if (length >= kElfMagicLength && std::memcmp(head, kElfMagic, kElfMagicLength) == 0)
        return TImageFormat::Elf;
    return TImageFormat::Auto;
}

QString ImageFormatsLookedFor() {
    return QStringLiteral("not Intel HEX (':'), S-record ('S0'..'S9') or ELF (0x7F 'ELF'), nor named "
                          ".rbf or .bin (binary)");
}

QString ImageFormatTitle(TImageFormat format) {
    switch (format) {
    case TImageFormat::IntelExtended:
    case TImageFormat::IntelHex:
        return QStringLiteral("Intel HEX");
    case TImageFormat::SRecord:
        return QStringLiteral("S-record");
    case TImageFormat::Elf:
        return QStringLiteral("ELF");
    case TImageFormat::Binary:
        return QStringLiteral("binary");
    case TImageFormat::Auto:
        break;
    }
    return QString();
}
