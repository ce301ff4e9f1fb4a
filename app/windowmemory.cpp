#include "app/windowmemory.h"

#include "engine/startaddress.h"
#include "files/systemfiles.h"
#include "files/usersettings.h"

namespace {

const QString kImageFile = QStringLiteral("Window/ImageFile");
const QString kImageFormat = QStringLiteral("Window/ImageFormat");
const QString kStartAddress = QStringLiteral("Window/StartAddress");
const QString kWriteSizeHeader = QStringLiteral("Window/WriteFileSizeOnStart");
const QString kVerifyAfterProgram = QStringLiteral("Window/VerifyAfterProgram");
const QString kOperation = QStringLiteral("Window/Operation"); // "verify" or "program"
const QString kVerifyOperation = QStringLiteral("verify");
const QString kProgramOperation = QStringLiteral("program");
const QString kRecentFiles = QStringLiteral("Window/RecentFiles");

// The settings give a list of one back as its one value.
QVariantList ListOf(const QVariant& value) {
    if (value.typeId() == QMetaType::QVariantList || value.typeId() == QMetaType::QStringList)
        return value.toList();
    return value.isValid() ? QVariantList{value} : QVariantList{};
}

// A regular file by the name's own bytes (the name may not be valid UTF-8).
bool Exists(const QString& fileName) {
    QString reason;
    const int fd = fileName.isEmpty() ? -1 : OpenRegularFileForReading(fileName, reason);
    if (fd >= 0)
        CloseFileDescriptor(fd);
    return fd >= 0;
}

QStringList StoreRecentFiles(const QStringList& files) {
    QVariantList stored;
    for (const QString& file : files)
        stored.append(StoredFileName(file));
    if (const auto settings = OpenUserSettings())
        settings->setValue(kRecentFiles, stored);
    return files;
}

} // namespace

TImageChoices LoadImageChoices() {
    TImageChoices choices;
    const auto settings = OpenUserSettings();
    if (!settings)
        return choices;
    if (const QString file = FileNameFromStored(settings->value(kImageFile)); Exists(file))
        choices.FileName = file;
    // Kept by its command-line name ("hex", "bin", "auto"): the window offers these three.
    if (const auto format = ImageFormatFromName(settings->value(kImageFormat).toString());
        format == TImageFormat::IntelExtended || format == TImageFormat::Binary ||
        format == TImageFormat::Auto)
        choices.FileFormat = *format;
    // Kept as the eight digits the field shows, so that the file reads as the window does.
    if (const auto address = ParseStartAddress(settings->value(kStartAddress).toString()))
        choices.StartAddress = *address;
    choices.WriteSizeHeader = settings->value(kWriteSizeHeader, true).toBool();
    choices.VerifyAfterProgram = settings->value(kVerifyAfterProgram, false).toBool();
    choices.Verify = settings->value(kOperation).toString() == kVerifyOperation;
    return choices;
}

void SaveImageChoices(const TImageChoices& choices) {
    const auto settings = OpenUserSettings();
    if (!settings)
        return;
    settings->setValue(kImageFile, StoredFileName(choices.FileName));
    settings->setValue(kImageFormat, ImageFormatName(choices.FileFormat));
    settings->setValue(kStartAddress, FormatStartAddress(choices.StartAddress));
    settings->setValue(kWriteSizeHeader, choices.WriteSizeHeader);
    settings->setValue(kVerifyAfterProgram, choices.VerifyAfterProgram);
    settings->setValue(kOperation, choices.Verify ? kVerifyOperation : kProgramOperation);
}

QStringList LoadRecentFiles() {
    const auto settings = OpenUserSettings();
    QStringList files;
    if (!settings)
        return files;
    for (const QVariant& stored : ListOf(settings->value(kRecentFiles)))
        if (const QString file = FileNameFromStored(stored);
            Exists(file) && !files.contains(file) && files.size() < kRecentFilesKept)
            files.append(file);
    return files;
}

QStringList RememberRecentFile(const QString& fileName) {
    QStringList files = LoadRecentFiles();
    files.removeAll(fileName);
    files.prepend(fileName);
    while (files.size() > kRecentFilesKept)
        files.removeLast();
    return StoreRecentFiles(files);
}

QStringList ForgetRecentFile(const QString& fileName) {
    QStringList files = LoadRecentFiles();
    files.removeAll(fileName);
    return StoreRecentFiles(files);
}
