#include "engine/startaddress.h"

std::optional<std::int32_t> ParseStartAddress(const QString& text) {
    // "0X100" is as common in scripts as "0x100".
    const QStringView digits = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                                   ? QStringView(text).mid(2)
                                   : QStringView(text);
    if (digits.isEmpty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (const QChar c : digits) {
        int digit = -1;
        if (c >= u'0' && c <= u'9')
            digit = c.unicode() - u'0';
        else if (c >= u'A' && c <= u'F')
            digit = c.unicode() - u'A' + 10;
        else if (c >= u'a' && c <= u'f')
            digit = c.unicode() - u'a' + 10;
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + std::uint64_t(digit);
        if (value > 0xFFFFFFFFull)
            return std::nullopt;
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

QString FormatStartAddress(std::int32_t address) {
    return QStringLiteral("%1").arg(static_cast<std::uint32_t>(address), 8, 16, QLatin1Char('0')).toUpper();
}

QString StartAddressErrorText(const QString& typed) {
    return QLatin1Char('"') + typed + QStringLiteral("\" is illegal hexadecimal string");
}
