#include "files/systemfiles.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <string>

#include <windows.h>

namespace {

const wchar_t* WideName(const QString& name) {
    return reinterpret_cast<const wchar_t*>(name.utf16());
}

QString SystemText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const QString result = length ? QString::fromWCharArray(text, int(length)).trimmed()
                                  : QStringLiteral("system error %1").arg(code);
    LocalFree(text);
    return result;
}

} // namespace

// Windows names are UTF-16; the C library takes them, and argv, in the ANSI code page.
QByteArray SystemFileName(const QString& name) {
    return name.toLocal8Bit();
}

QString FileNameFromSystem(const QByteArray& bytes) {
    return QString::fromLocal8Bit(bytes);
}

// The file dialog gives UTF-16 names as the system has them: nothing was lost.
QString RecoverChosenFileName(const QString& name) {
    return name;
}

int OpenRegularFileForReading(const QString& name, QString& reason) {
    // A directory cannot be opened as a file at all; say why instead of "access denied".
    const DWORD attributes = GetFileAttributesW(WideName(name));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        reason = QStringLiteral("Is a directory");
        return -1;
    }
    // Opening a pipe or a device does not wait; the type check refuses it.
    const HANDLE handle = CreateFileW(WideName(name), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        reason = SystemText(GetLastError());
        return -1;
    }
    const DWORD type = GetFileType(handle);
    if (type != FILE_TYPE_DISK) {
        CloseHandle(handle);
        reason = type == FILE_TYPE_PIPE   ? QStringLiteral("not a regular file (a named pipe)")
                 : type == FILE_TYPE_CHAR ? QStringLiteral("not a regular file (a device)")
                                          : QStringLiteral("not a regular file");
        return -1;
    }
    // Binary: the readers take LF and CR LF themselves, and a Ctrl-Z must not end the file.
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        CloseHandle(handle);
        reason = QStringLiteral("no descriptor for the file");
    }
    return fd;
}

long long ReadFileAt(int fd, unsigned long long offset, void* buffer, unsigned count, QString& reason) {
    // Each reader has a descriptor of its own: the seek and the read need no lock.
    if (_lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) < 0) {
        reason = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    const int got = _read(fd, buffer, count);
    if (got < 0)
        reason = QString::fromLocal8Bit(std::strerror(errno));
    return got;
}

long long FileSizeOf(int fd, QString& reason) {
    const __int64 size = _filelengthi64(fd);
    if (size < 0)
        reason = QString::fromLocal8Bit(std::strerror(errno));
    return size;
}

void CloseFileDescriptor(int fd) {
    _close(fd);
}

// Windows keeps its standard handles apart from the files a program opens: nothing to reserve.
void EnsureStandardDescriptors() {}

std::FILE* CreateFileForWriting(const QString& name, QString& reason) {
    std::FILE* file = _wfopen(reinterpret_cast<const wchar_t*>(name.utf16()), L"wbN");
    if (!file)
        reason = QString::fromLocal8Bit(std::strerror(errno));
    return file;
}

std::FILE* OpenFileForAppending(const QString& name, QString& reason) {
    std::FILE* file = _wfopen(WideName(name), L"abN");
    if (!file) {
        reason = QString::fromLocal8Bit(std::strerror(errno));
        return nullptr;
    }
    const DWORD type = GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))));
    if (type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE) {
        std::fclose(file);
        reason = QStringLiteral("not a regular file (a device)");
        return nullptr;
    }
    return file;
}

bool AppendWhole(std::FILE* file, const QByteArray& bytes, int& error) {
    if (std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), file) == std::size_t(bytes.size()) &&
        std::fflush(file) == 0)
        return true;
    error = errno != 0 ? errno : EIO;
    return false;
}

// Windows names one file in many spellings (case, short names); the canonical path settles most.
bool SameExistingFile(const QString& first, const QString& second) {
    const QString a = QFileInfo(first).canonicalFilePath();
    return !a.isEmpty() && a.compare(QFileInfo(second).canonicalFilePath(), Qt::CaseInsensitive) == 0;
}

std::FILE* OpenFileStream(const QString& name, const char* mode) {
    const std::wstring noInherit = QString::fromLatin1(mode).toStdWString() + L"N"; // the CRT's _O_NOINHERIT
    return _wfopen(WideName(name), noInherit.c_str());
}
