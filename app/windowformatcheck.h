#pragma once
// Before a run: does the chosen image format fit the file? An Intel HEX file sent as Binary ends
// "Program OK!" with the file's text in the FLASH, so a mismatch is asked about first.

#include "image/imageformat.h"

#include <QString>

#include <cstdint>

// The question to ask, or an empty text when the format fits (or the file says nothing either way).
// `chosenFormat` is the window's format, `verify` picks the verb of the question.
QString FormatMismatchQuestion(const QString& fileName, TImageFormat chosenFormat, bool verify);
