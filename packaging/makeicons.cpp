// Writes the program's desktop icons into a hicolor theme tree: the mark as SVG and as PNG at the
// given sizes, all from the drawing the window uses.
// Usage: tervolt-makeicons OUTPUT_DIR ICON_NAME SIZE...

#include "skin/logomark.h"

#include <QDir>
#include <QFile>

#include <cstdio>

namespace {

constexpr int kMaxSize = 4096;

bool WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() &&
        file.flush())
        return true;
    std::fprintf(stderr, "tervolt-makeicons: cannot write %s: %s\n", qPrintable(path),
                 qPrintable(file.errorString()));
    return false;
}

bool MakeFolder(const QDir& root, const QString& folder) {
    if (root.mkpath(folder))
        return true;
    std::fprintf(stderr, "tervolt-makeicons: cannot create %s\n", qPrintable(root.filePath(folder)));
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    // Painting into images needs no application object and no display.
    QList<int> sizes;
    bool valid = argc > 3;
    for (int i = 3; i < argc && valid; ++i) {
        const int size = QByteArray(argv[i]).toInt(&valid);
        valid = valid && size >= 1 && size <= kMaxSize;
        sizes << size;
    }
    if (!valid) {
        std::fprintf(stderr, "Usage: tervolt-makeicons OUTPUT_DIR ICON_NAME SIZE...\n");
        return 64;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    const QString name = QString::fromLocal8Bit(argv[2]);

    if (!MakeFolder(root, QStringLiteral("scalable/apps")) ||
        !WriteBytes(root.filePath(QStringLiteral("scalable/apps/%1.svg").arg(name)), LogoMarkSvg()))
        return 1;
    for (const int size : sizes) {
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString path = root.filePath(QStringLiteral("%1/%2.png").arg(folder, name));
        if (!MakeFolder(root, folder))
            return 1;
        if (!LogoMarkImage(size).save(path, "PNG")) {
            std::fprintf(stderr, "tervolt-makeicons: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
