#pragma once
// The corpus manifests: tab-separated lines, '#' comments and the column header skipped.

#include <QString>
#include <QStringList>

#include <vector>

// Every data row; a missing file or a row with another number of fields ends the test program.
std::vector<QStringList> ReadTable(const QString& path, int columns);

// The data files of a corpus folder, sorted: everything but the manifest and .gitattributes.
QStringList CorpusFolderFiles(const QString& folder, const QString& manifest);
