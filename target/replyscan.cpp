#include "target/replyscan.h"

#include <cstdio>
#include <vector>

bool ScanIdentifyReply(const QByteArray& reply, QByteArray& deviceId, QByteArray& manufacturer) {
    // Tokens can never be longer than the reply, so buffers of its size cannot overflow.
    const QByteArray text(reply.constData(), qstrnlen(reply.constData(), size_t(reply.size())));
    std::vector<char> id(size_t(text.size()) + 1, '\0');
    std::vector<char> maker(size_t(text.size()) + 1, '\0');
    const int fields = std::sscanf(text.constData(), "DeviceID: %s Manufacturer: %s", id.data(), maker.data());
    if (fields >= 1)
        deviceId = QByteArray(id.data());
    if (fields < 2)
        return false;
    manufacturer = QByteArray(maker.data());
    return deviceId.size() <= kMaxIdentToken && manufacturer.size() <= kMaxIdentToken;
}

bool ScanCompareReply(const QByteArray& reply, TCompareResult& result) {
    const QByteArray text(reply.constData(), qstrnlen(reply.constData(), size_t(reply.size())));
    unsigned long address = 0;
    unsigned int expected = 0;
    unsigned int actual = 0;
    const int fields = std::sscanf(text.constData(), "Compare error at address %lx: Expected: %x Actual: %x",
                                   &address, &expected, &actual);
    if (fields != 3)
        return false;
    result.Address = static_cast<std::uint32_t>(address);
    result.Expected = static_cast<std::uint16_t>(expected);
    result.Actual = static_cast<std::uint16_t>(actual);
    return true;
}
