#include "devices/inireader.h"

#include "files/systemfiles.h"

#include <QFile>

#include <limits>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

QByteArray TrimBlanks(const QByteArray& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

QByteArray Unquote(const QByteArray& value) {
    if (value.size() >= 2) {
        const char first = value.front();
        if ((first == '"' || first == '\'') && value.back() == first)
            return value.mid(1, value.size() - 2);
    }
    return value;
}

// ASCII-only folding: the names in the file are plain words, and this keeps bytes above 0x7F exact.
QString Fold(const QString& name) {
    QString folded = name;
    for (QChar& c : folded) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + ('a' - 'A'));
    }
    return folded;
}

int HexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// Digits only, no sign; false on an empty run, a foreign character or a value above INT_MAX.
bool ParseDigits(QStringView digits, int base, qint64& magnitude) {
    if (digits.isEmpty())
        return false;
    magnitude = 0;
    for (QChar c : digits) {
        const int d = HexDigit(c);
        if (d < 0 || d >= base)
            return false;
        magnitude = magnitude * base + d;
        if (magnitude > qint64(std::numeric_limits<int>::max()) + 1)
            return false;
    }
    return true;
}

} // namespace

bool TIniReader::ReadFile(const QString& fileName, QByteArray& text, QString* error) {
    text.clear();
    QString reason;
    const int fd = OpenRegularFileForReading(fileName, reason);
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            reason = file.errorString();
        if (error)
            *error = QStringLiteral("cannot open %1: %2").arg(fileName, reason);
        return false;
    }
    const auto tooLarge = [&] {
        if (error)
            *error = QStringLiteral("%1 is larger than %2 bytes").arg(fileName).arg(kMaxFileBytes);
        text.clear();
        return false;
    };
    if (file.size() > kMaxFileBytes)
        return tooLarge();
    // Read in pieces: a single read of the limit would allocate the whole limit for every small file.
    // The size it has now is the likely size, so that the text does not grow by doubling.
    text.reserve(qsizetype(file.size()) + 1);
    constexpr qint64 kChunkBytes = 64 * 1024;
    for (QByteArray chunk = file.read(kChunkBytes); !chunk.isEmpty() && text.size() <= kMaxFileBytes;
         chunk = file.read(kChunkBytes))
        text += chunk;
    if (text.size() > kMaxFileBytes)
        return tooLarge();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(fileName, file.errorString());
        text.clear();
        return false;
    }
    return true;
}

void TIniReader::Scan(const QByteArray& text, const TVisitor& visit) {
    qsizetype begin = text.startsWith("\xEF\xBB\xBF") ? 3 : 0;

    // Lines are looked at where they lie: splitting a file of millions of short lines into pieces
    // first would cost far more than the file.
    bool inSection = false;
    QString currentName;
    while (begin <= text.size()) {
        qsizetype end = text.indexOf('\n', begin);
        if (end < 0)
            end = text.size();
        QByteArray line = text.mid(begin, end - begin);
        begin = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        line = TrimBlanks(line);
        if (line.isEmpty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            const qsizetype close = line.indexOf(']');
            inSection = close >= 0; // a broken header must not let its keys land in the previous section
            if (!inSection)
                continue;
            currentName = Fold(QString::fromLatin1(TrimBlanks(line.mid(1, close - 1))));
            visit(currentName, QString(), QByteArray());
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0 || !inSection)
            continue;
        const QByteArray key = TrimBlanks(line.left(equals));
        if (!key.isEmpty())
            visit(currentName, Fold(QString::fromLatin1(key)), Unquote(TrimBlanks(line.mid(equals + 1))));
    }
}

void TIniReader::Parse(const QByteArray& text) {
    FSections.clear();
    TSection* current = nullptr;
    Scan(text, [&](const QString& section, const QString& key, const QByteArray& value) {
        if (key.isEmpty()) {
            current = &FSections[section];
            return;
        }
        if (current == nullptr || current->contains(key))
            return;
        current->insert(key, QString::fromLatin1(value));
    });
}

const QString* TIniReader::Find(const QString& section, const QString& key) const {
    const auto s = FSections.constFind(Fold(section));
    if (s == FSections.cend())
        return nullptr;
    const auto k = s->constFind(Fold(key));
    return k == s->cend() ? nullptr : &*k;
}

bool TIniReader::SectionExists(const QString& section) const {
    return FSections.contains(Fold(section));
}

bool TIniReader::ValueExists(const QString& section, const QString& key) const {
    return Find(section, key) != nullptr;
}

QString TIniReader::ReadString(const QString& section, const QString& key,
                               const QString& defaultValue) const {
    const QString* value = Find(section, key);
    return value ? *value : defaultValue;
}

int TIniReader::ReadInteger(const QString& section, const QString& key, int defaultValue) const {
    const QString* value = Find(section, key);
    int result = 0;
    if (value && ParseInteger(*value, result))
        return result;
    return defaultValue;
}

bool TIniReader::ParseInteger(const QString& text, int& value) {
    qint64 magnitude = 0;
    if (text.size() > 2 && (text.startsWith(QLatin1String("0x")) || text.startsWith(QLatin1String("0X")))) {
        if (!ParseDigits(QStringView(text).mid(2), 16, magnitude) ||
            magnitude > std::numeric_limits<int>::max())
            return false;
        value = int(magnitude);
        return true;
    }
    QStringView rest(text);
    bool negative = false;
    if (!rest.isEmpty() && (rest.front() == QLatin1Char('-') || rest.front() == QLatin1Char('+'))) {
        negative = rest.front() == QLatin1Char('-');
        rest = rest.mid(1);
    }
    int base = 10;
    if (!rest.isEmpty() && rest.front() == QLatin1Char('$')) {
        base = 16;
        rest = rest.mid(1);
    }
    if (!ParseDigits(rest, base, magnitude))
        return false;
    const qint64 signedValue = negative ? -magnitude : magnitude;
    if (signedValue > std::numeric_limits<int>::max() || signedValue < std::numeric_limits<int>::min())
        return false;
    value = int(signedValue);
    return true;
}
