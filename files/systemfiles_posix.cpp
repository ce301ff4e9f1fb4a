#include "files/systemfiles.h"

#include <QStringList>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char16_t kEscapeBase = 0xDC00; // byte b (0x80..0xFF) travels as U+DC00 + b
constexpr char16_t kFirstEscape = 0xDC80;
constexpr char16_t kLastEscape = 0xDCFF;
constexpr char16_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Length of the valid UTF-8 sequence at `p` (strict: no overlong forms, no surrogates, at most
// U+10FFFF), or 0 when the byte there does not start one.
int Utf8SequenceLength(const unsigned char* p, const unsigned char* end) {
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    int length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF; // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        low = c == 0xE0 ? 0xA0 : 0x80;
        high = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (end - p < length || p[1] < low || p[1] > high)
        return 0;
    for (int i = 2; i < length; ++i)
        if (!IsContinuation(p[i]))
            return 0;
    return length;
}

QString SystemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString NotRegularReason(mode_t mode) {
    if (S_ISDIR(mode))
        return SystemReason(EISDIR);
    if (S_ISFIFO(mode))
        return QStringLiteral("not a regular file (a named pipe)");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("not a regular file (a device)");
    return QStringLiteral("not a regular file");
}

// The entries of `directory` that a dialog would have shown as `shown`; the one match, or nothing.
QString MatchEntry(const QString& directory, const QString& shown) {
    DIR* dir = ::opendir(SystemFileName(directory.isEmpty() ? QStringLiteral("/") : directory).constData());
    if (!dir)
        return {};
    QString match;
    int matches = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray bytes(entry->d_name);
        if (QString::fromUtf8(bytes) == shown) {
            match = FileNameFromSystem(bytes);
            ++matches;
        }
    }
    ::closedir(dir);
    return matches == 1 ? match : QString();
}

} // namespace

QByteArray SystemFileName(const QString& name) {
    QByteArray bytes;
    bytes.reserve(name.size());
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name.at(i).unicode();
        const bool afterHigh = i > 0 && name.at(i - 1).isHighSurrogate();
        if (c < kFirstEscape || c > kLastEscape || afterHigh)
            continue;
        bytes += QStringView(name).mid(runStart, i - runStart).toUtf8();
        bytes += char(c - kEscapeBase);
        runStart = i + 1;
    }
    bytes += QStringView(name).mid(runStart).toUtf8();
    return bytes;
}

QString FileNameFromSystem(const QByteArray& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const auto* end = p + bytes.size();
    QString name;
    name.reserve(bytes.size());
    const auto* runStart = p;
    while (p < end) {
        const int length = Utf8SequenceLength(p, end);
        if (length > 0) {
            p += length;
            continue;
        }
        name += QString::fromUtf8(reinterpret_cast<const char*>(runStart), p - runStart);
        name += QChar(char16_t(kEscapeBase + *p));
        runStart = ++p;
    }
    name += QString::fromUtf8(reinterpret_cast<const char*>(runStart), end - runStart);
    return name;
}

QString RecoverChosenFileName(const QString& name) {
    if (!name.contains(QChar(kReplacement)) || !name.startsWith(u'/'))
        return name;
    const QStringList parts = name.split(u'/');
    QString path;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        QString part = parts[i];
        if (part.contains(QChar(kReplacement))) {
            part = MatchEntry(path, part);
            if (part.isEmpty())
                return name;
        }
        path += u'/' + part;
    }
    return path;
}

int OpenRegularFileForReading(const QString& name, QString& reason) {
    const QByteArray path = SystemFileName(name);
    // stat first: it neither blocks on a pipe nor touches a device.
    struct stat status {};
    if (::stat(path.constData(), &status) != 0) {
        reason = SystemReason(errno);
        return -1;
    }
    if (!S_ISREG(status.st_mode)) {
        reason = NotRegularReason(status.st_mode);
        return -1;
    }
    // The name may have been replaced meanwhile: open without waiting and look again.
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        reason = SystemReason(errno);
        return -1;
    }
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        reason = S_ISREG(status.st_mode) ? SystemReason(errno) : NotRegularReason(status.st_mode);
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

long long ReadFileAt(int fd, unsigned long long offset, void* buffer, unsigned count, QString& reason) {
    for (;;) {
        const ssize_t got = ::pread(fd, buffer, count, static_cast<off_t>(offset));
        if (got >= 0)
            return got;
        if (errno != EINTR) {
            reason = SystemReason(errno);
            return -1;
        }
    }
}

long long FileSizeOf(int fd, QString& reason) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        reason = SystemReason(errno);
        return -1;
    }
    return status.st_size;
}

void CloseFileDescriptor(int fd) {
    ::close(fd);
}

void EnsureStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // open() takes the lowest free descriptor, which is this one.
        const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd)
            ::close(opened);
    }
}

std::FILE* CreateFileForWriting(const QString& name, QString& reason) {
    const int fd =
        ::open(SystemFileName(name).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd >= 0)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
    if (!file) {
        const int err = errno;
        if (fd >= 0)
            ::close(fd);
        reason = QString::fromLocal8Bit(std::strerror(err));
    }
    return file;
}

std::FILE* OpenFileForAppending(const QString& name, QString& reason) {
    const QByteArray path = SystemFileName(name);
    const auto appendable = [](mode_t mode) { return S_ISREG(mode) || S_ISFIFO(mode); };
    struct stat info {};
    if (::stat(path.constData(), &info) == 0 && !appendable(info.st_mode)) {
        reason = NotRegularReason(info.st_mode);
        return nullptr;
    }
    const int fd =
        ::open(path.constData(), O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        reason = errno == ENXIO ? QStringLiteral("a named pipe that nobody reads") : SystemReason(errno);
        return nullptr;
    }
    // Replaced by a device between the look and the open.
    if (::fstat(fd, &info) != 0 || !appendable(info.st_mode)) {
        reason = NotRegularReason(info.st_mode);
        ::close(fd);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "a");
    if (!file) {
        reason = SystemReason(errno);
        ::close(fd);
    }
    return file;
}

bool AppendWhole(std::FILE* file, const QByteArray& bytes, int& error) {
    const int fd = ::fileno(file);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            return false;
        }
        done += qsizetype(n);
    }
    return true;
}

bool SameExistingFile(const QString& first, const QString& second) {
    struct stat a {};
    struct stat b {};
    return ::stat(SystemFileName(first).constData(), &a) == 0 &&
           ::stat(SystemFileName(second).constData(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

std::FILE* OpenFileStream(const QString& name, const char* mode) {
    const std::string closeOnExec = std::string(mode) + "e"; // glibc's O_CLOEXEC
    return std::fopen(SystemFileName(name).constData(), closeOnExec.c_str());
}
