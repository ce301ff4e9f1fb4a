#pragma once
// The "Log…" window: the runs of this session and the trace of the last one, read-only, with "Save…"
// to keep them in a text file.

#include "files/outputguard.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <vector>

class QPlainTextEdit;
class TsuiButton;

// Chooses where to save: returns the path or an empty text when the user cancelled.
using TSaveFileDialogFunc = std::function<QString(QWidget* parent)>;

class TFormSessionLog : public QDialog {
    Q_OBJECT

public:
    explicit TFormSessionLog(QWidget* parent = nullptr);

    void SetText(const QString& text);
    QString Text() const;
    // Test seam: replaces the save dialog (an empty function restores it).
    void SetSaveFileDialog(TSaveFileDialogFunc dialog) { FSaveFileDialog = std::move(dialog); }
    // What Save must never write over: the image, the device lists, the settings file.
    void SetTakenFiles(std::vector<TTakenFile> taken) { FTaken = std::move(taken); }
    // Asks for a file and writes the text to it; false when cancelled or not written (then said so).
    // Regular files only, none of the taken ones; written to a temporary file and renamed over it.
    bool Save();

private:
    QPlainTextEdit* FText = nullptr;
    TSaveFileDialogFunc FSaveFileDialog;
    std::vector<TTakenFile> FTaken;
};
