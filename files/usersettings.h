#pragma once
// The per-user settings. Linux: the file ~/.config/VELUM/Tervolt.conf ($XDG_CONFIG_HOME when set),
// with the COM settings and the COMn port mapping; only this one file is read (no organisation-wide or
// system files), and only when it is a regular file: QSettings reads while it is constructed, and a
// named pipe there would block it for ever. Windows: the registry key
// HKEY_CURRENT_USER\Software\VELUM\Tervolt, the COM settings as DWORD values.

#include <QSettings>
#include <QString>
#include <QVariant>

#include <memory>

// The file's path, or the registry key's name.
QString UserSettingsFile();

// The settings, or nullptr when the file exists but is no regular file (`problem` then says so).
// A missing file is fine: it is created on the first write.
std::unique_ptr<QSettings> OpenUserSettings(QString* problem = nullptr);

// Whether a stored value has the type of a 32-bit integer: a registry value must be a DWORD; a file
// keeps text only, whose digits the reader checks.
bool StoredAsInteger(const QVariant& value);

// A file name as the settings keep it: as text, and on Linux a name that is not valid UTF-8 as its
// bytes, since the text of the file would replace them; FileNameFromStored gives it back unchanged.
QVariant StoredFileName(const QString& name);
QString FileNameFromStored(const QVariant& value);
