#include "app/windowformatcheck.h"

#include "files/systemfiles.h"

#include <QFile>
#include <QFileInfo>

#include <array>
#include <cctype>

namespace {

// What a file looks like, from its first bytes or else from its name.
enum class TImageLook { ilUnknown, ilIntelHex, ilBinary };

// The window's formats: the name of the radio item and the looks that fit it. A format that takes
// any file (detection) fits every look.
struct TFormatFit {
    TImageFormat Format;
    const char* Name;
    bool FitsIntelHex;
    bool FitsBinary;
};
constexpr std::array kFormats{
    TFormatFit{TImageFormat::IntelExtended, "Intel Extended", true, false},
    TFormatFit{TImageFormat::Binary, "Binary", false, true},
    TFormatFit{TImageFormat::Auto, "Auto-detect", true, true},
};

constexpr int kSniffBytes = 256;

TImageLook LookOfContent(const QString& fileName) {
    // Only a regular file is read: nothing here may block on a pipe or touch a device.
    QString reason;
    const int descriptor = OpenRegularFileForReading(fileName, reason);
    QFile file;
    if (descriptor < 0 || !file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return TImageLook::ilUnknown;
    for (const char c : file.read(kSniffBytes)) {
        if (std::isspace(static_cast<unsigned char>(c)))
            continue;
        // An Intel HEX file's first non-blank byte is ':'.
        return c == ':' ? TImageLook::ilIntelHex : TImageLook::ilUnknown;
    }
    return TImageLook::ilUnknown;
}

TImageLook LookOf(const QString& fileName) {
    if (const TImageLook look = LookOfContent(fileName); look != TImageLook::ilUnknown)
        return look;
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("hex"))
        return TImageLook::ilIntelHex;
    if (suffix == QLatin1String("rbf") || suffix == QLatin1String("bin"))
        return TImageLook::ilBinary;
    return TImageLook::ilUnknown;
}

} // namespace

QString FormatMismatchQuestion(const QString& fileName, TImageFormat chosenFormat, bool verify) {
    const TFormatFit* chosen = nullptr;
    for (const TFormatFit& fit : kFormats)
        if (fit.Format == chosenFormat)
            chosen = &fit;
    if (chosen == nullptr)
        return QString();
    const TImageLook look = LookOf(fileName);
    QString looksLike;
    if (look == TImageLook::ilIntelHex && !chosen->FitsIntelHex)
        looksLike = QStringLiteral("Intel HEX");
    else if (look == TImageLook::ilBinary && !chosen->FitsBinary)
        looksLike = QStringLiteral("a binary image");
    if (looksLike.isEmpty())
        return QString();
    const QString name = QString::fromLatin1(chosen->Name);
    return QStringLiteral("The file looks like %1 but %2 is chosen. %3 it as %2?")
        .arg(looksLike, name, verify ? QStringLiteral("Verify") : QStringLiteral("Program"));
}
