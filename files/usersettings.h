#pragma once
// The per-user settings file, ~/.config/VELUM/Tervolt.conf ($XDG_CONFIG_HOME when set): the COM
// settings and the COMn port mapping. Only this one file is read (no organisation-wide or system
// files), and only when it is a regular file: QSettings reads while it is constructed, and a named
// pipe there would block it for ever.

#include <QSettings>
#include <QString>

#include <memory>

QString UserSettingsFile();

// The settings, or nullptr when the file exists but is no regular file (`problem` then says so).
// A missing file is fine: it is created on the first write.
std::unique_ptr<QSettings> OpenUserSettings(QString* problem = nullptr);
