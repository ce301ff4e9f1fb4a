#include "tests/support/ptypair.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

TPtyPair::TPtyPair() {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return;
    termios tio{};
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    FMaster = master;
    FSlaveKeeper = slave;
    FSlavePath = QString::fromLocal8Bit(name);
}

TPtyPair::~TPtyPair() {
    CloseMaster();
    if (FSlaveKeeper >= 0)
        ::close(FSlaveKeeper);
}

bool TPtyPair::Write(const QByteArray& data) {
    qsizetype done = 0;
    while (FMaster >= 0 && done < data.size()) {
        ssize_t n = ::write(FMaster, data.constData() + done, size_t(data.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd p{FMaster, POLLOUT, 0};
        ::poll(&p, 1, 100);
    }
    return done == data.size();
}

QByteArray TPtyPair::Read(int count, std::chrono::milliseconds deadline) {
    QByteArray out;
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (FMaster >= 0 && out.size() < count) {
        char buf[4096];
        ssize_t n = ::read(FMaster, buf, std::min<size_t>(sizeof buf, size_t(count - out.size())));
        if (n > 0) {
            out.append(buf, n);
            continue;
        }
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{FMaster, POLLIN, 0};
        ::poll(&p, 1, int(std::min<long long>(left.count(), 50)));
    }
    return out;
}

QByteArray TPtyPair::ReadUntil(char terminator, std::chrono::milliseconds deadline) {
    QByteArray out;
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (FMaster >= 0) {
        char c;
        ssize_t n = ::read(FMaster, &c, 1);
        if (n == 1) {
            out.append(c);
            if (c == terminator)
                break;
            continue;
        }
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{FMaster, POLLIN, 0};
        ::poll(&p, 1, int(std::min<long long>(left.count(), 50)));
    }
    return out;
}

void TPtyPair::Drain() {
    char buf[4096];
    while (FMaster >= 0 && ::read(FMaster, buf, sizeof buf) > 0) {
    }
}

void TPtyPair::CloseMaster() {
    if (FMaster >= 0) {
        ::close(FMaster);
        FMaster = -1;
    }
}
