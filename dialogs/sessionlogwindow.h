#pragma once
// The "Log…" window: the runs of this session and the trace of the last one, read-only, with "Save…"
// to keep them in a text file.

#include <QDialog>
#include <QString>

#include <functional>

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
    // Asks for a file and writes the text to it; false when cancelled or not written (then said so).
    bool Save();

private:
    QPlainTextEdit* FText = nullptr;
    TSaveFileDialogFunc FSaveFileDialog;
};
