#pragma once
// What the window remembers between sessions, in the per-user settings (group "Window"): the last
// image with its format, start address and size option, Verify or Program, "Verify after
// programming", and the recent image files, newest first.

#include "image/imageformat.h"

#include <QString>
#include <QStringList>

#include <cstdint>

struct TImageChoices {
    QString FileName;
    TImageFormat FileFormat = TImageFormat::IntelExtended;
    std::int32_t StartAddress = 0;
    bool WriteSizeHeader = true;
    bool VerifyAfterProgram = false;
    bool Verify = false; // the operation: Verify, or Program
};

// The stored choices; the defaults for anything missing or out of range (a format the window does not
// offer). The file name is kept only when the file still exists.
TImageChoices LoadImageChoices();
void SaveImageChoices(const TImageChoices& choices);

static constexpr int kRecentFilesKept = 5;

// Recent files that still exist, newest first.
QStringList LoadRecentFiles();
// Puts `fileName` in front (once) and keeps the newest kRecentFilesKept; returns the new list.
QStringList RememberRecentFile(const QString& fileName);
// Takes `fileName` out of the list (it could not be opened); returns the new list.
QStringList ForgetRecentFile(const QString& fileName);
