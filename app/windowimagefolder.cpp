#include "app/windowimagefolder.h"

#include "files/usersettings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

const QString kImageFolderKey = QStringLiteral("Window/ImageFolder");

} // namespace

QString ImageDialogFolder(const QString& currentImage) {
    if (!currentImage.isEmpty()) {
        const QString folder = QFileInfo(currentImage).absolutePath();
        if (QFileInfo(folder).isDir())
            return folder;
    }
    // Through the one opener: a settings file that is no regular file is not read (it could block).
    const std::unique_ptr<QSettings> settings = OpenUserSettings();
    const QString remembered = settings ? FileNameFromStored(settings->value(kImageFolderKey)) : QString();
    return !remembered.isEmpty() && QFileInfo(remembered).isDir() ? remembered : QString();
}

void RememberImageFolder(const QString& chosenImage) {
    if (chosenImage.isEmpty())
        return;
    if (const std::unique_ptr<QSettings> settings = OpenUserSettings())
        settings->setValue(kImageFolderKey, StoredFileName(QFileInfo(chosenImage).absolutePath()));
}
