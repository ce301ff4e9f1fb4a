#include "app/windowformatcheck.h"

#include "image/imagereader.h"
#include "image/imagesnapshot.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

// Enough of the file for FormatOfHead.
constexpr std::size_t kHeadBytes = 4;

// What the window's formats are called on their radio items.
QString ChoiceName(TImageFormat format) {
    return format == TImageFormat::IntelExtended ? QStringLiteral("Intel Extended")
           : format == TImageFormat::Binary      ? QStringLiteral("Binary")
                                                 : QStringLiteral("Auto-detect");
}

// The file as the image layer takes it, none of it held (bound 0); nullptr for a file that cannot be
// read (the run says why). Only a regular file is opened: nothing here may block on a pipe or touch a
// device.
std::shared_ptr<TImageSnapshot> SnapshotOf(const QString& fileName) {
    QString reason;
    return TImageSnapshot::Take(fileName, reason, 0);
}

// The format the file's first bytes point to, or else the one its name gives (but binary, which a
// name says of any bytes).
TImageFormat FormatOfHeadOrName(const QString& fileName, TImageFormat named) {
    std::uint8_t head[kHeadBytes];
    std::size_t length = kHeadBytes;
    QString reason;
    const std::shared_ptr<TImageSnapshot> snapshot = SnapshotOf(fileName);
    const TImageFormat content = snapshot && snapshot->ReadHead(head, length, reason)
                                     ? FormatOfHead(head, length)
                                     : TImageFormat::Auto;
    return content == TImageFormat::Auto && named != TImageFormat::Binary ? named : content;
}

// What a file named as binary is, when detection would read it as another format: a whole image of it.
TImageFormat WholeFormatOf(const QString& fileName) {
    const std::shared_ptr<TImageSnapshot> snapshot = SnapshotOf(fileName);
    return snapshot ? WholeContentFormat(snapshot) : TImageFormat::Auto;
}

// What the file looks like that `chosenFormat` (Binary or Intel Extended) does not fit; empty when
// it fits or the file says nothing either way.
QString MismatchOf(const QString& fileName, TImageFormat chosenFormat, TImageFormat named) {
    const TImageFormat content = FormatOfHeadOrName(fileName, named);
    if (chosenFormat == TImageFormat::Binary)
        return ImageFormatTitle(content);
    // Intel HEX of either record set fits: the strict reader names a record 04 or 05 it refuses.
    if (content == TImageFormat::IntelHex || content == TImageFormat::IntelExtended)
        return QString();
    if (content == TImageFormat::Auto && named == TImageFormat::Binary)
        return QStringLiteral("a binary image");
    return ImageFormatTitle(content);
}

} // namespace

TFormatCheck CheckChosenFormat(const QString& fileName, TImageFormat chosenFormat, bool verify) {
    const TImageFormat named = ImageFormatNamed(fileName);
    QString looksLike;
    QString chosen = ChoiceName(chosenFormat) + QStringLiteral(" is chosen");
    TImageFormat runAs = chosenFormat;
    if (chosenFormat == TImageFormat::Binary || chosenFormat == TImageFormat::IntelExtended) {
        looksLike = MismatchOf(fileName, chosenFormat, named);
    } else if (named == TImageFormat::Binary) {
        // Detection reads a file named as binary raw, unless it is a whole image of another format (the
        // image layer's rule): the user says which.
        looksLike = ImageFormatTitle(WholeFormatOf(fileName));
        chosen = QStringLiteral("its name says binary");
        runAs = TImageFormat::Binary;
    }
    if (looksLike.isEmpty())
        return TFormatCheck{QString(), chosenFormat};
    return TFormatCheck{QStringLiteral("The file looks like %1 but %2. %3 it as %4?")
                            .arg(looksLike, chosen,
                                 verify ? QStringLiteral("Verify") : QStringLiteral("Program"),
                                 ChoiceName(runAs)),
                        runAs};
}
