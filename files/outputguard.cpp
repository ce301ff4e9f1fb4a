#include "files/outputguard.h"

#include "files/systemfiles.h"

#include <QFileInfo>

namespace {

// Where a name will be once it is created: its folder, links resolved, and its own name.
QString PathOnceCreated(const QString& name) {
    const QFileInfo info(name);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? info.absoluteFilePath() : folder + u'/' + info.fileName();
}

} // namespace

QString OutputRefusal(const QString& name, const std::vector<TTakenFile>& taken) {
    for (const TTakenFile& file : taken) {
        if (file.Path.isEmpty())
            continue;
        if (SameExistingFile(name, file.Path) ||
            (file.ReadLater && PathOnceCreated(name) == PathOnceCreated(file.Path)))
            return file.What;
    }
    return QString();
}
