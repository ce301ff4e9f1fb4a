#include "app/windowfilefilter.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

// Qt takes the patterns from the last parenthesised part of a display text, so the part the text
// carries for the reader is replaced by the real patterns.
QString BareDisplayText(const QString& display) {
    static const QRegularExpression kTrailingPatterns(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
    QString bare = display;
    bare.remove(kTrailingPatterns);
    return bare.trimmed();
}

QString QtPatterns(const QString& patterns) {
    QStringList converted;
    for (const QString& part : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString pattern = part.trimmed();
        if (pattern.isEmpty())
            continue;
        const QString qtPattern = pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern;
        if (!converted.contains(qtPattern))
            converted.append(qtPattern);
    }
    return converted.isEmpty() ? QStringLiteral("*") : converted.join(QLatin1Char(' '));
}

} // namespace

QString QtFileFilter(const QString& filterString) {
    const QStringList parts = filterString.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        const QString display = parts.at(i).trimmed();
        const QString patterns = i + 1 < parts.size() ? parts.at(i + 1) : QString();
        if (display.isEmpty() && patterns.trimmed().isEmpty())
            continue;
        const QString qtPatterns = QtPatterns(patterns);
        const QString shown = BareDisplayText(display);
        filters.append(shown.isEmpty() ? qtPatterns
                                       : shown + QStringLiteral(" (") + qtPatterns + QLatin1Char(')'));
    }
    return filters.join(QStringLiteral(";;"));
}
