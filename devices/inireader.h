#pragma once
// A small read-only INI reader with exactly the matching rules the device list relies on.
//
// - Section and key names match without regard to letter case (ASCII case folding).
// - A value is the text after the first '=' with surrounding blanks (space, tab) removed; a value
//   enclosed in a matching pair of double or single quotes loses them (blanks inside stay).
// - The file is read as 8-bit text, one character per byte (Latin-1), so values compare byte for byte.
//   A UTF-8 byte order mark at the start is skipped; lines may end in LF or CR LF.
// - Lines whose first non-blank character is ';' or '#' are comments. Malformed lines (no '=' and
//   no section header, an empty key, key lines before the first section) are ignored; a header
//   without its ']' is malformed too, and the key lines after it are ignored up to the next header.
// - A section that appears twice is merged into one; when a key appears twice in a section, the
//   first occurrence wins.
// - No inline comments: "ID=VF040B ; note" has the value "VF040B ; note".
// - Files larger than kMaxFileBytes are refused (no text), and so is anything that is
//   not a regular file; nothing blocks in open() (a named pipe has no writer to wait for).
// - Scan keeps nothing, so that a caller's memory follows what it keeps, not how many lines or
//   sections the file holds. Parse keeps the whole table: the device-list fuzz harness checks the
//   list's reading against it.

#include <QHash>
#include <QString>

#include <cstdint>
#include <functional>

class TIniReader {
public:
    static constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;

    TIniReader() = default;
    // The whole file's bytes; false (and no text) when it cannot be read. `error` gets the reason.
    static bool ReadFile(const QString& fileName, QByteArray& text, QString* error = nullptr);
    // Parses text that is already in memory (one character per byte) into the table of every section.
    void Parse(const QByteArray& text);

    // Every section header (with an empty key and value) and every key line of a well-formed
    // section, in file order, with folded names and the value as ReadString gives it. Nothing is
    // kept: a caller that needs little of a large file keeps only that.
    using TVisitor = std::function<void(const QString& section, const QString& key, const QByteArray& value)>;
    static void Scan(const QByteArray& text, const TVisitor& visit);

    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& key) const;
    QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;
    // A value of more than two characters beginning with "0x"/"0X" is hexadecimal; otherwise an optional
    // sign and decimal digits, where a leading '$' marks hexadecimal. Missing, empty, non-numeric or
    // out-of-range values yield `defaultValue`.
    int ReadInteger(const QString& section, const QString& key, int defaultValue) const;

    // The integer rule on its own, for values that do not come from a file.
    static bool ParseInteger(const QString& text, int& value);

private:
    using TSection = QHash<QString, QString>; // folded key -> value
    QHash<QString, TSection> FSections;       // folded section name -> keys

    const QString* Find(const QString& section, const QString& key) const;
};
