#include "serial/netsocket.h"

#include <QByteArray>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString SystemText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

using TClock = std::chrono::steady_clock;

int MsLeft(TClock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - TClock::now()).count();
    return int(std::max<std::int64_t>(left, 0));
}

// One address: a non-blocking connect, then a wait for it to finish. Returns the socket or -1 (`err`).
int ConnectOne(const addrinfo& address, TClock::time_point end, int& err) {
    const int fd =
        ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol);
    if (fd < 0) {
        err = errno;
        return -1;
    }
    if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0 && errno != EINPROGRESS) {
        err = errno;
        ::close(fd);
        return -1;
    }
    for (;;) {
        pollfd request{fd, POLLOUT, 0};
        const int ready = ::poll(&request, 1, MsLeft(end));
        if (ready < 0 && errno == EINTR)
            continue;
        int soError = ready == 0 ? ETIMEDOUT : 0;
        socklen_t length = sizeof soError;
        if (ready < 0)
            soError = errno;
        else if (ready > 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) != 0)
            soError = errno;
        if (soError == 0)
            return fd;
        err = soError;
        ::close(fd);
        return -1;
    }
}

} // namespace

TNetSocket::~TNetSocket() {
    Close();
}

bool TNetSocket::Connect(const QString& host, std::uint16_t port, int timeoutMs) {
    Close();
    FError.clear();
    const auto end = TClock::now() + std::chrono::milliseconds(timeoutMs);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const QByteArray service = QByteArray::number(port);
    const int lookup = ::getaddrinfo(host.toUtf8().constData(), service.constData(), &hints, &found);
    if (lookup != 0) {
        FError = QString::fromLocal8Bit(::gai_strerror(lookup));
        return false;
    }
    int err = ETIMEDOUT;
    int fd = -1;
    for (const addrinfo* address = found; address && fd < 0 && MsLeft(end) > 0; address = address->ai_next)
        fd = ConnectOne(*address, end, err);
    ::freeaddrinfo(found);
    if (fd < 0) {
        FError = SystemText(err);
        return false;
    }
    // Every command waits for its answer: a block held back for a full segment would cost a round trip.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    FSocket = fd;
    return true;
}

void TNetSocket::Close() {
    if (FSocket < 0)
        return;
    ::close(int(FSocket));
    FSocket = kInvalidCommHandle;
}

bool TNetSocket::IsOpen() const {
    return FSocket >= 0;
}

TCommHandle TNetSocket::Handle() const {
    return FSocket;
}

// A request and its answer make the system delay its acknowledgements (up to 40 ms) for a reply to
// carry them; a server that keeps Nagle's algorithm on then holds the rest of an answer until its
// first bytes are acknowledged. Asked again after each receive: the system does not keep it.
void TNetSocket::AcknowledgeAtOnce() {
    const int on = 1;
    ::setsockopt(int(FSocket), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

std::int64_t TNetSocket::Receive(void* buffer, std::uint32_t size) {
    if (FSocket < 0)
        return -1;
    for (;;) {
        const ssize_t n = ::recv(int(FSocket), buffer, size, 0);
        if (n > 0) {
            AcknowledgeAtOnce();
            return n;
        }
        if (n == 0) {
            FError = QStringLiteral("the server closed the connection");
            return -1;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        FError = SystemText(errno);
        return -1;
    }
}

std::int64_t TNetSocket::Send(const void* data, std::uint32_t size) {
    if (FSocket < 0)
        return -1;
    for (;;) {
        const ssize_t n = ::send(int(FSocket), data, size, MSG_NOSIGNAL);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        FError = SystemText(errno);
        return -1;
    }
}

TCommWaitResult TNetSocket::Wait(bool forWrite, int timeoutMs) {
    if (FSocket < 0)
        return cwrGone;
    const auto end = TClock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        pollfd request{int(FSocket), short(forWrite ? POLLOUT : POLLIN), 0};
        const int ready = ::poll(&request, 1, MsLeft(end));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            FError = SystemText(errno);
            return cwrGone;
        }
        if (ready == 0)
            return cwrTimeout;
        // A hang-up may still leave bytes to read: the reader finds the end itself.
        if ((request.revents & (POLLERR | POLLNVAL)) || (forWrite && (request.revents & POLLHUP))) {
            int soError = 0;
            socklen_t length = sizeof soError;
            ::getsockopt(int(FSocket), SOL_SOCKET, SO_ERROR, &soError, &length);
            FError = soError ? SystemText(soError) : QStringLiteral("the server closed the connection");
            return cwrGone;
        }
        return cwrReady;
    }
}
