#include "serial/netsocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <QByteArray>

#include <algorithm>
#include <chrono>

namespace {

using TClock = std::chrono::steady_clock;

int MsLeft(TClock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - TClock::now()).count();
    return int(std::max<std::int64_t>(left, 0));
}

QString SystemText(int err) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        DWORD(err), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString result =
        length ? QString::fromWCharArray(text, int(length)).trimmed() : QStringLiteral("error %1").arg(err);
    ::LocalFree(text);
    return result;
}

// Winsock is started once for the process and never stopped: sockets may outlive any one owner.
bool StartWinsock() {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

SOCKET ConnectOne(const addrinfo& address, TClock::time_point end, int& err) {
    SOCKET s = ::socket(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (s == INVALID_SOCKET) {
        err = ::WSAGetLastError();
        return INVALID_SOCKET;
    }
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    if (::connect(s, address.ai_addr, int(address.ai_addrlen)) != 0 &&
        ::WSAGetLastError() != WSAEWOULDBLOCK) {
        err = ::WSAGetLastError();
        ::closesocket(s);
        return INVALID_SOCKET;
    }
    WSAPOLLFD request{s, POLLWRNORM, 0};
    const int ready = ::WSAPoll(&request, 1, MsLeft(end));
    int soError = ready == 0 ? WSAETIMEDOUT : 0;
    int length = sizeof soError;
    if (ready < 0)
        soError = ::WSAGetLastError();
    else if (ready > 0 &&
             ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length) != 0)
        soError = ::WSAGetLastError();
    if (soError == 0)
        return s;
    err = soError;
    ::closesocket(s);
    return INVALID_SOCKET;
}

} // namespace

TNetSocket::~TNetSocket() {
    Close();
}

bool TNetSocket::Connect(const QString& host, std::uint16_t port, int timeoutMs) {
    Close();
    FError.clear();
    if (!StartWinsock()) {
        FError = QStringLiteral("the network is not available");
        return false;
    }
    const auto end = TClock::now() + std::chrono::milliseconds(timeoutMs);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    const QByteArray service = QByteArray::number(port);
    if (::getaddrinfo(host.toUtf8().constData(), service.constData(), &hints, &found) != 0) {
        FError = SystemText(::WSAGetLastError());
        return false;
    }
    int err = WSAETIMEDOUT;
    SOCKET s = INVALID_SOCKET;
    for (const addrinfo* address = found; address && s == INVALID_SOCKET && MsLeft(end) > 0;
         address = address->ai_next)
        s = ConnectOne(*address, end, err);
    ::freeaddrinfo(found);
    if (s == INVALID_SOCKET) {
        FError = SystemText(err);
        return false;
    }
    // Every command waits for its answer: a block held back for a full segment would cost a round trip.
    const BOOL on = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    FSocket = TCommHandle(s);
    return true;
}

void TNetSocket::Close() {
    if (FSocket == kInvalidCommHandle)
        return;
    ::closesocket(SOCKET(FSocket));
    FSocket = kInvalidCommHandle;
}

bool TNetSocket::IsOpen() const {
    return FSocket != kInvalidCommHandle;
}

TCommHandle TNetSocket::Handle() const {
    return FSocket;
}

// The system offers no acknowledgement on demand per receive here; the server's own settings decide.
void TNetSocket::AcknowledgeAtOnce() {}

std::int64_t TNetSocket::Receive(void* buffer, std::uint32_t size) {
    if (!IsOpen())
        return -1;
    const int n =
        ::recv(SOCKET(FSocket), static_cast<char*>(buffer), int(std::min<std::uint32_t>(size, 1u << 30)), 0);
    if (n > 0)
        return n;
    if (n == 0) {
        FError = QStringLiteral("the server closed the connection");
        return -1;
    }
    const int err = ::WSAGetLastError();
    if (err == WSAEWOULDBLOCK)
        return 0;
    FError = SystemText(err);
    return -1;
}

std::int64_t TNetSocket::Send(const void* data, std::uint32_t size) {
    if (!IsOpen())
        return -1;
    const int n = ::send(SOCKET(FSocket), static_cast<const char*>(data),
                         int(std::min<std::uint32_t>(size, 1u << 30)), 0);
    if (n >= 0)
        return n;
    const int err = ::WSAGetLastError();
    if (err == WSAEWOULDBLOCK)
        return 0;
    FError = SystemText(err);
    return -1;
}

TCommWaitResult TNetSocket::Wait(bool forWrite, int timeoutMs) {
    if (!IsOpen())
        return cwrGone;
    WSAPOLLFD request{SOCKET(FSocket), short(forWrite ? POLLWRNORM : POLLRDNORM), 0};
    const int ready = ::WSAPoll(&request, 1, std::max(timeoutMs, 0));
    if (ready < 0) {
        FError = SystemText(::WSAGetLastError());
        return cwrGone;
    }
    if (ready == 0)
        return cwrTimeout;
    if ((request.revents & (POLLERR | POLLNVAL)) || (forWrite && (request.revents & POLLHUP))) {
        FError = QStringLiteral("the server closed the connection");
        return cwrGone;
    }
    return cwrReady;
}
