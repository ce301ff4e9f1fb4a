#pragma once
// A real pseudo-terminal for tests: the test holds the master side (the board), the code under test
// opens the slave by its path, exactly as it would open a serial adapter.

#include <QByteArray>
#include <QString>

#include <chrono>

class TPtyPair {
public:
    TPtyPair(); // raw mode on the slave side; QFAIL-free: check IsOpen()
    ~TPtyPair();
    TPtyPair(const TPtyPair&) = delete;
    TPtyPair& operator=(const TPtyPair&) = delete;

    bool IsOpen() const { return FMaster >= 0; }
    int MasterFd() const { return FMaster; }
    QString SlavePath() const { return FSlavePath; }

    // Writes everything to the master side (what the board sends).
    bool Write(const QByteArray& data);
    // Reads what the code under test sent until `count` bytes arrived or the deadline passed.
    QByteArray Read(int count, std::chrono::milliseconds deadline);
    // Reads until `terminator` has been seen (inclusive) or the deadline passed.
    QByteArray ReadUntil(char terminator, std::chrono::milliseconds deadline);
    // Discards whatever is queued on the master side now.
    void Drain();
    // Closes the master: the slave side sees a hang-up, as when an adapter is unplugged.
    void CloseMaster();

private:
    int FMaster = -1;
    int FSlaveKeeper = -1; // keeps the slave configured until the code under test opens it
    QString FSlavePath;
};
