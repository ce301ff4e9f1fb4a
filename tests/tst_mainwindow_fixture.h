#pragma once
// What the main-window tests share: private per-user settings, a program directory with the device
// list, a board on a pseudo-terminal that answers from the GUI thread as a test wants, a recorder for
// message boxes, and short ways to reach the window's controls.

#include "app/tervolt_mainform.h"
#include "dialogs/velummessagebox.h"
#include "sim/monitor.h"
#include "sim/simserver.h"
#include "tests/support/ptypair.h"
#include "tests/support/simboard.h"

#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <QVariant>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

// Points the per-user settings at a temporary folder. Construct it before QApplication exists.
class TPrivateSettings {
public:
    TPrivateSettings();
    bool IsValid() const { return FDir.isValid(); }

private:
    QTemporaryDir FDir;
};

// Runs a test object under QApplication with private settings; for a custom main().
template <class TTest> int RunMainWindowTest(int argc, char* argv[]);

// Ports/COMn of the per-user settings. Every COM port a test does not map on purpose points to a
// device that does not exist, so that no test ever opens a real serial port of the machine.
void MapPort(int number, const QString& devicePath);
void MapAllPortsToMissingDevices();
QString MissingDevicePath(int number);
void ClearStoredComSettings();
void StoreComValue(const QString& name, const QVariant& value);
QVariant StoredComValue(const QString& name);

// A program directory; with the device list copied from the build, or without any.
class TProgramDirectory {
public:
    explicit TProgramDirectory(bool withDevicesList = true);
    QString Path() const { return FDir.path(); }
    bool IsValid() const { return FValid; }
    bool WriteDevicesList(const QByteArray& content);

private:
    QTemporaryDir FDir;
    bool FValid = false;
};

// A board on a pseudo-terminal, answering on the GUI thread (inside the program's own waits) with the
// monitor model. It can be silent, answer only the presence ping, or answer everything.
class TScriptedBoard : public QObject {
public:
    enum TMode { bmSilent, bmPingOnly, bmAnswering };

    explicit TScriptedBoard(const TSimConfig& config = TSimConfig());
    ~TScriptedBoard() override;

    bool IsOpen() const { return FPty.IsOpen(); }
    QString SlavePath() const { return FPty.SlavePath(); }
    void SetMode(TMode mode) { FMode = mode; }
    int Pings() const { return FPings; }
    int IdQueries() const { return FIdQueries; }
    int Commands() const { return FCommands; }

private:
    void ReadCommands();

    TPtyPair FPty;
    TSimMonitor FMonitor;
    std::unique_ptr<QSocketNotifier> FNotifier;
    TMode FMode = bmSilent;
    QByteArray FLine;
    int FPings = 0;
    int FIdQueries = 0;
    int FCommands = 0;
};

// Answers every message box (through the box's test seam) and keeps what was shown.
class TMessageRecorder {
public:
    using TAnswer = std::function<TModalResult(const TShownMessage&)>;
    // By default the first button is pressed.
    explicit TMessageRecorder(TAnswer answer = TAnswer());

    QList<TShownMessage> Shown;
    // Both as the box says it without the lines added below (what a run did, what the FLASH holds,
    // why a chip was not identified); Shown keeps the whole text.
    int Count(const QString& text) const;
    QStringList Texts() const;

private:
    TAnswer FAnswer;
    TScopedMessageResponder FResponder;
};

// Keeps the image-file error messages instead of showing the system box.
class THexErrorRecorder {
public:
    THexErrorRecorder();
    ~THexErrorRecorder();
    QStringList Texts;
    QStringList Captions;
};

// A box's text without the line added below it: "20,480 bytes in 2.1 s ...", "The FLASH ..." or why a
// chip was not identified.
QString WithoutAddedLines(const QString& text);

template <class T> T* Control(const QWidget& form, const char* name) {
    return form.findChild<T*>(QString::fromLatin1(name));
}

// Through the COM settings dialog, as a user would: COM2 is mapped to `devicePath`, the dialog
// disconnects, connects and closes with OK; the window then runs its identification.
void AttachPort(TFormTervolt& form, const QString& devicePath);
// The same dialog with Disconnect and OK.
void DetachPort(TFormTervolt& form);

// A shown and active main window without a port (COM2 is not mapped yet: the first connection fails,
// its notice is answered). Null when the window did not become active.
std::unique_ptr<TFormTervolt> OpenMainWindow(const QString& programDirectory);
// A test object that works on one main window for all its cases: a program directory with the device
// list, a folder for images, and no stored COM settings.
class TOneWindowTest : public QObject {
protected:
    // False when any of it could not be made.
    bool OpenWindow();
    void CloseWindow() { FForm.reset(); }
    QString ImagePath(const QString& name) const;
    // Through the COM settings dialog; the chip must be identified without a box.
    void Attach(const TSimServer& board);
    // Through Browse, as a click would; the name field then holds `path`.
    void ChooseFile(const QString& path);
    // Start clicked; returns when the run has ended.
    void ClickStart();

    std::unique_ptr<TProgramDirectory> FProgramDirectory;
    QTemporaryDir FImages;
    std::unique_ptr<TFormTervolt> FForm;
};

// Back to the first choices: port closed, no file, Intel Extended, Program, size option ticked, start
// address 0.
void ResetChoices(TFormTervolt& form);
// The simulated board on a thread of its own; a board that cannot start is reported as a warning
// (the identification that follows then fails visibly).
std::unique_ptr<TSimServer> StartSimBoard(const TSimConfig& config = TSimConfig());

using TRecords = std::vector<std::pair<std::uint32_t, QByteArray>>;

QByteArray Pattern(int length, int seed);
// Contiguous 16-byte records from `address` on.
TRecords Records(std::uint32_t address, int length, int seed);
// The board holds exactly the image: each of its bytes programmed with its value, nothing else written.
void CheckBoardHolds(const TSimServer& board, const TImage& image);
// Bytes the board holds programmed.
std::size_t Programmed(const TSimServer& board);

// Waits, processing events, until `condition` holds or the deadline passes.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline);

// ---- template definitions ----

#include <QApplication>

template <class TTest> int RunMainWindowTest(int argc, char* argv[]) {
    TPrivateSettings settings;
    if (!settings.IsValid())
        return 2;
    QApplication application(argc, argv);
    MapAllPortsToMissingDevices();
    TTest test;
    return QTest::qExec(&test, argc, argv);
}
