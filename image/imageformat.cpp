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
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    return suffix == QLatin1String("rbf") || suffix == QLatin1String("bin") ? TImageFormat::Binary
                                                                            : TImageFormat::Auto;
}

TImageFormat DetectImageFormat(const std::uint8_t* head, std::size_t length, const QString& fileName) {
    // A raw image may well begin with ':' or "S1": its name decides first.
    if (ImageFormatOfFileName(fileName) == TImageFormat::Binary)
        return TImageFormat::Binary;
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
