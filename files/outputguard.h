#pragma once
// What the programs write of their own (a trace, a saved log) must never land on what they read or talk
// to: the image, a device list, the settings file, a port. One rule for every such output.

#include <QString>

#include <vector>

struct TTakenFile {
    QString Path;
    QString What; // "the image file", "the settings file", ...
    // Read again later (the settings file, the per-user device list): refused by its path even before
    // it exists, so that an output never creates it.
    bool ReadLater = false;
};

// Why `name` may not be written as an output, or empty: it is one of `taken`.
QString OutputRefusal(const QString& name, const std::vector<TTakenFile>& taken);
