// The start-address field's conversion on arbitrary typed text (read as UTF-8).
//
// Checked against the rule itself (one optional "0x" or "0X", then one or more hexadecimal digits of either
// case whose value fits in 32 bits): the conversion accepts exactly such text and gives its value; an
// accepted value shown as the field shows it (eight upper-case digits) converts back to itself, with
// and without the prefix; the error text quotes the typed text unchanged.

#include "engine/startaddress.h"
#include "fuzz/fuzzcheck.h"

namespace {

std::optional<std::uint32_t> RuleValue(QStringView text) {
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        text = text.mid(2);
    if (text.isEmpty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        int digit = -1;
        if (u >= '0' && u <= '9')
            digit = u - '0';
        else if (u >= 'a' && u <= 'f')
            digit = u - 'a' + 10;
        else if (u >= 'A' && u <= 'F')
            digit = u - 'A' + 10;
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + std::uint64_t(digit);
        if (value > 0xFFFFFFFFu)
            return std::nullopt;
    }
    return std::uint32_t(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString typed = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<std::int32_t> parsed = ParseStartAddress(typed);
    const std::optional<std::uint32_t> rule = RuleValue(typed);
    FUZZ_CHECK(parsed.has_value() == rule.has_value());
    FUZZ_CHECK(StartAddressErrorText(typed) ==
               QLatin1Char('"') + typed + QLatin1String("\" is illegal hexadecimal string"));
    if (!parsed)
        return 0;
    FUZZ_CHECK(std::uint32_t(*parsed) == *rule);

    const QString shown = FormatStartAddress(*parsed);
    FUZZ_CHECK(shown.size() == 8);
    for (const QChar c : shown)
        FUZZ_CHECK((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'));
    FUZZ_CHECK(ParseStartAddress(shown) == parsed);
    FUZZ_CHECK(ParseStartAddress(QStringLiteral("0x") + shown) == parsed);
    return 0;
}
