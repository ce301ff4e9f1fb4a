#pragma once
// File-dialog filters as the window keeps them: "Display (*.a)|*.a|All Files (*.*)|*.*", pairs of
// display text and pattern separated by vertical bars, the first pair being the one selected.

#include <QString>

inline const QString kHexFileFilter = QStringLiteral("HEX Files (*.hex)|*.hex|All Files (*.*)|*.*");
// Binary images come as .rbf and, as often, .bin.
inline const QString kBinaryFileFilter =
    QStringLiteral("Row Binary Files (*.rbf;*.bin)|*.rbf;*.bin|All Files (*.*)|*.*");
// What Auto-detect reads; a .rbf or .bin chosen here switches to Binary.
inline const QString kImageFileFilter = QStringLiteral(
    "Image Files (*.hex;*.ihex;*.ihx;*.s19;*.s28;*.s37;*.mot;*.srec;*.elf;*.axf;*.out;*.rbf;*.bin)|"
    "*.hex;*.ihex;*.ihx;*.s19;*.s28;*.s37;*.mot;*.srec;*.elf;*.axf;*.out;*.rbf;*.bin|All Files (*.*)|*.*");

// Qt's form of a filter string: "HEX Files (*.hex);;All Files (*)". Patterns come from the pattern
// part (several separated by ';'), and "*.*" becomes "*" so that it also matches names without a dot.
// A display text without a pattern gets "*"; empty pairs are dropped.
QString QtFileFilter(const QString& filterString);
