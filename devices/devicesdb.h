#pragma once
// The list of supported FLASH chips, read from devices.tervolt, and the one question it answers:
// is this (manufacturer, device id) pair listed?
//
// Texts are compared byte for byte with letter case significant. The file is read one character
// per byte, so callers should turn the monitor's reply bytes into QString with QString::fromLatin1.

#include <QSet>
#include <QString>

#include <memory>
#include <utility>

struct TDeviceListNode {
    QString Manufacturer;
    QString ID;
    std::unique_ptr<TDeviceListNode> Next;
};

class TDevicesList {
public:
    // AddDevice results.
    enum : int { adAdded = 0, adPresent = 1, adNoMemory = 2 };

    TDevicesList() = default;
    ~TDevicesList();
    TDevicesList(const TDevicesList&) = delete;
    TDevicesList& operator=(const TDevicesList&) = delete;

    // Frees every node; the list is empty afterwards.
    void Clear();
    // Appends the entries of a valid file and returns true; a file that is missing or invalid in any
    // part adds nothing and returns false. The list is not cleared first.
    bool LoadFromFile(const QString& fileName);
    bool FindDevice(const QString& manufacturer, const QString& id) const;
    // adAdded, adPresent (the pair is already listed) or adNoMemory.
    int AddDevice(const QString& manufacturer, const QString& id);

    // The first node in file order, or nullptr; for showing the list.
    const TDeviceListNode* Head() const { return FHead.get(); }
    int Count() const { return int(FPairs.size()); }
    // Why the last LoadFromFile returned false (for diagnostics only; empty after a success).
    QString LastFailure() const { return FLastFailure; }

private:
    std::unique_ptr<TDeviceListNode> FHead;
    TDeviceListNode* FTail = nullptr;
    // Mirrors the nodes so that a long list is neither quadratic to load nor slow to search.
    QSet<std::pair<QString, QString>> FPairs;
    QString FLastFailure;
};
