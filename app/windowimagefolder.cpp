#include "app/windowimagefolder.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

const QString kImageFolderKey = QStringLiteral("Window/ImageFolder");

QSettings UserSettings() {
    return QSettings(QStringLiteral("VELUM"), QStringLiteral("Tervolt"));
}

} // namespace

QString ImageDialogFolder(const QString& currentImage) {
    if (!currentImage.isEmpty()) {
        const QString folder = QFileInfo(currentImage).absolutePath();
        if (QFileInfo(folder).isDir())
            return folder;
    }
    const QString remembered = UserSettings().value(kImageFolderKey).toString();
    return !remembered.isEmpty() && QFileInfo(remembered).isDir() ? remembered : QString();
}

void RememberImageFolder(const QString& chosenImage) {
    if (chosenImage.isEmpty())
        return;
    QSettings settings = UserSettings();
    settings.setValue(kImageFolderKey, QFileInfo(chosenImage).absolutePath());
}
