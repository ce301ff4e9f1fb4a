#pragma once
// Choosing the image in the window: where the file dialog opens, the folder it remembers between
// runs (per-user settings, "Window/ImageFolder").

#include <QString>

#include <cstdint>

// The folder of `currentImage` when it exists, else the last folder an image was chosen from, else
// empty (the dialog's own choice, the working directory).
QString ImageDialogFolder(const QString& currentImage);
void RememberImageFolder(const QString& chosenImage);
