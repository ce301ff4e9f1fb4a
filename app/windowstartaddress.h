#pragma once
// What the start-address field lets a person type: hexadecimal digits only, at most eight. A pasted
// "0x" in front of digits is dropped, since the field shows the address without it.

#include <QValidator>

class TStartAddressValidator : public QValidator {
    Q_OBJECT

public:
    static constexpr int kMaxDigits = 8;

    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;
};
