#include "app/windowstartaddress.h"

namespace {

bool IsHexDigit(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

} // namespace

QValidator::State TStartAddressValidator::validate(QString& input, int& pos) const {
    if (input.size() > 2 && input.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) &&
        IsHexDigit(input.at(2))) {
        input.remove(0, 2);
        pos = qMax(0, pos - 2);
    }
    if (input.size() > kMaxDigits)
        return Invalid;
    for (const QChar c : input)
        if (!IsHexDigit(c))
            return Invalid;
    // Empty is allowed while typing; leaving the field empty is reported as before.
    return input.isEmpty() ? Intermediate : Acceptable;
}
