#include "app/windowformatcheck.h"

#include "files/systemfiles.h"

#include <QFile>

#include <array>

namespace {

// What the window's formats are called on their radio items.
QString ChoiceName(TImageFormat format) {
    return format == TImageFormat::IntelExtended ? QStringLiteral("Intel Extended")
           : format == TImageFormat::Binary      ? QStringLiteral("Binary")
                                                 : QStringLiteral("Auto-detect");
}

// The format the file's first bytes point to; Auto for a file that cannot be read (the run says why).
TImageFormat FormatOfContent(const QString& fileName) {
    // Only a regular file is read: nothing here may block on a pipe or touch a device.
    QString reason;
    const int descriptor = OpenRegularFileForReading(fileName, reason);
    QFile file;
    if (descriptor < 0 || !file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return TImageFormat::Auto;
    std::array<char, 4> head{};
    const qint64 length = file.read(head.data(), qint64(head.size()));
    return length <= 0
               ? TImageFormat::Auto
               : FormatOfHead(reinterpret_cast<const std::uint8_t*>(head.data()), std::size_t(length));
}

} // namespace

TFormatCheck CheckChosenFormat(const QString& fileName, TImageFormat chosenFormat, bool verify) {
    TFormatCheck check{QString(), chosenFormat};
    const TImageFormat named = ImageFormatNamed(fileName);
    const bool namedBinary = named == TImageFormat::Binary;
    // The first bytes, or else the name: the image layer's two rules.
    TImageFormat content = FormatOfContent(fileName);
    if (content == TImageFormat::Auto && !namedBinary)
        content = named;
    QString looksLike = content == TImageFormat::Auto ? QString() : ImageFormatTitle(content);
    QString chosen = ChoiceName(chosenFormat) + QStringLiteral(" is chosen");
    switch (chosenFormat) {
    case TImageFormat::Binary:
        break;
    case TImageFormat::IntelExtended:
        if (content == TImageFormat::IntelHex || content == TImageFormat::IntelExtended)
            looksLike.clear();
        else if (looksLike.isEmpty() && namedBinary)
            looksLike = QStringLiteral("a binary image");
        break;
    default:
        // Detection reads a file named as binary raw, unless it is a whole image of another format: the
        // user says which.
        if (!namedBinary)
            looksLike.clear();
        chosen = QStringLiteral("its name says binary");
        check.RunAs = TImageFormat::Binary;
        break;
    }
    if (looksLike.isEmpty())
        return TFormatCheck{QString(), chosenFormat};
    check.Question =
        QStringLiteral("The file looks like %1 but %2. %3 it as %4?")
            .arg(looksLike, chosen, verify ? QStringLiteral("Verify") : QStringLiteral("Program"),
                 ChoiceName(check.RunAs));
    return check;
}
