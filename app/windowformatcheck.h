#pragma once
// Before a run: does the chosen image format fit the file? An Intel HEX file sent as Binary ends
// "Program OK!" with the file's text in the FLASH, so a mismatch is asked about first.

#include "image/imageformat.h"

#include <QString>

struct TFormatCheck {
    QString Question;     // empty when the format fits (or the file says nothing either way)
    TImageFormat RunAs{}; // the format to run with once the question, if any, is answered Yes
};

// `chosenFormat` is the window's format, `verify` picks the verb of the question. The file's first
// bytes and its name are weighed by the image layer's rules.
TFormatCheck CheckChosenFormat(const QString& fileName, TImageFormat chosenFormat, bool verify);
