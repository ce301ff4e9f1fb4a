// Reading the monitor's "P ID" and "P VERIFY" answers out of arbitrary reply text.
//
// Checked: an accepted answer is one line ended by CR LF. An identify answer begins with "DeviceID:"
// and yields two tokens of 1 to 50 printable characters without blanks or '>', which read back
// unchanged from a freshly written answer; a mismatch report begins with its fixed words, its values
// fit a byte, and the three numbers read back unchanged from a freshly written report.

#include "fuzz/fuzzcheck.h"
#include "protocol/replyscan.h"

#include <cctype>

namespace {

bool IsToken(const QByteArray& token) {
    if (token.isEmpty() || token.size() > kMaxIdentToken)
        return false;
    for (const char c : token)
        if (c == '\0' || c == '>' || std::isspace(static_cast<unsigned char>(c)))
            return false;
    return true;
}

bool IsOneLine(const QByteArray& reply) {
    return reply.endsWith("\r\n") && reply.count('\n') == 1 && reply.count('\r') == 1;
}

void CheckIdentify(const QByteArray& reply) {
    QByteArray deviceId;
    QByteArray manufacturer;
    if (!ScanIdentifyReply(reply, deviceId, manufacturer))
        return;
    FUZZ_CHECK(reply.startsWith("DeviceID:"));
    FUZZ_CHECK(IsOneLine(reply));
    FUZZ_CHECK(IsToken(deviceId));
    FUZZ_CHECK(IsToken(manufacturer));
    FUZZ_CHECK(reply.contains(deviceId) && reply.contains(manufacturer));

    QByteArray againId;
    QByteArray againMaker;
    FUZZ_CHECK(ScanIdentifyReply("DeviceID: " + deviceId + " Manufacturer: " + manufacturer + "\r\n", againId,
                                 againMaker));
    FUZZ_CHECK(againId == deviceId && againMaker == manufacturer);
}

void CheckCompare(const QByteArray& reply) {
    TCompareResult result;
    if (!ScanCompareReply(reply, result))
        return;
    FUZZ_CHECK(reply.startsWith("Compare error at address "));
    FUZZ_CHECK(IsOneLine(reply));
    FUZZ_CHECK(!result.CompareOK);
    FUZZ_CHECK(result.Expected <= 0xFF && result.Actual <= 0xFF);

    const QByteArray written = QByteArray("Compare error at address ") +
                               QByteArray::number(result.Address, 16) +
                               ": Expected: " + QByteArray::number(result.Expected, 16) +
                               " Actual: " + QByteArray::number(result.Actual, 16) + "\r\n";
    TCompareResult again;
    FUZZ_CHECK(ScanCompareReply(written, again));
    FUZZ_CHECK(again.Address == result.Address && again.Expected == result.Expected &&
               again.Actual == result.Actual);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray reply(reinterpret_cast<const char*>(data), qsizetype(size));
    CheckIdentify(reply);
    CheckCompare(reply);
    return 0;
}
