// The Telnet stream of a network serial port: what a serial server (or anything listening on its
// address) may send, in any pieces.
//
// Checked: the line's bytes and the commands come out the same whether the input arrives whole or a
// byte at a time; no subnegotiation is longer than the limit; never more line bytes than input bytes;
// and any bytes, escaped as we send them, decode to themselves with no command among them.

#include "fuzz/fuzzcheck.h"
#include "serial/telnetstream.h"

#include <cstdint>

namespace {

bool SameEvents(const std::vector<telnet::TEvent>& a, const std::vector<telnet::TEvent>& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].Kind != b[i].Kind || a[i].Option != b[i].Option || a[i].Payload != b[i].Payload)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    telnet::TDecoder whole;
    QByteArray line;
    std::vector<telnet::TEvent> events;
    whole.Feed(data, size, line, events);
    FUZZ_CHECK(std::size_t(line.size()) <= size);
    for (const telnet::TEvent& event : events)
        FUZZ_CHECK(std::size_t(event.Payload.size()) <= telnet::kMaxSubnegotiation);

    telnet::TDecoder bytewise;
    QByteArray line2;
    std::vector<telnet::TEvent> events2;
    for (std::size_t i = 0; i < size; ++i)
        bytewise.Feed(data + i, 1, line2, events2);
    FUZZ_CHECK(line2 == line);
    FUZZ_CHECK(SameEvents(events, events2));
    FUZZ_CHECK(bytewise.Oversized() == whole.Oversized());

    QByteArray escaped;
    telnet::AppendEscaped(data, size, escaped);
    telnet::TDecoder back;
    QByteArray line3;
    std::vector<telnet::TEvent> events3;
    back.Feed(reinterpret_cast<const std::uint8_t*>(escaped.constData()), std::size_t(escaped.size()), line3,
              events3);
    FUZZ_CHECK(events3.empty());
    FUZZ_CHECK(line3 == QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    return 0;
}
