#include "tests/support/tsvtable.h"

#include <QDir>
#include <QFile>
#include <QtGlobal>

std::vector<QStringList> ReadTable(const QString& path, int columns) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s: %s", qPrintable(path), qPrintable(file.errorString()));
    std::vector<QStringList> rows;
    bool header = true;
    while (!file.atEnd()) {
        QString line = QString::fromUtf8(file.readLine());
        if (line.endsWith(QLatin1Char('\n')))
            line.chop(1);
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (header) {
            header = false;
            continue;
        }
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.size() != columns)
            qFatal("%s: %d fields instead of %d in: %s", qPrintable(path), int(fields.size()), columns,
                   qPrintable(line));
        rows.push_back(fields);
    }
    return rows;
}

QStringList CorpusFolderFiles(const QString& folder, const QString& manifest) {
    QStringList present = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    present.removeAll(manifest);
    present.removeAll(QStringLiteral(".gitattributes"));
    present.sort();
    return present;
}
