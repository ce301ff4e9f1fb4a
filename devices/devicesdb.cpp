#include "devices/devicesdb.h"

#include "devices/inireader.h"

#include <QFileInfo>

#include <new>

namespace {

const QString kHeaderSection = QStringLiteral("Header");
const QString kGeneralSection = QStringLiteral("GeneralInfo");
const QString kCompany = QStringLiteral("VELUM Technologies Ltd.");
const QString kDestination = QStringLiteral("Tervolt");

QString DeviceSection(int index) {
    return QStringLiteral("Device") + QString::number(index);
}

} // namespace

TDevicesList::~TDevicesList() {
    Clear();
}

void TDevicesList::Clear() {
    // Unlink one node at a time: letting the chain destroy itself would recurse once per node.
    while (FHead)
        FHead = std::move(FHead->Next);
    FTail = nullptr;
    FPairs.clear();
}

bool TDevicesList::LoadFromFile(const QString& fileName) {
    FLoadError.clear();
    const QFileInfo info(fileName);
    if (!info.exists() || info.isDir()) {
        FLoadError = QStringLiteral("%1 does not exist").arg(fileName);
        return false;
    }
    TIniReader ini;
    QString readError;
    if (!ini.Open(fileName, &readError)) {
        FLoadError = readError;
        return false;
    }

    if (ini.ReadString(kHeaderSection, QStringLiteral("Company"), QString()) != kCompany ||
        ini.ReadString(kHeaderSection, QStringLiteral("Destination"), QString()) != kDestination) {
        FLoadError = QStringLiteral("%1 is not a device list for this program").arg(fileName);
        return false;
    }
    const int count = ini.ReadInteger(kGeneralSection, QStringLiteral("SupportedDevices"), -1);
    if (count <= 0) {
        FLoadError = QStringLiteral("%1: SupportedDevices is missing or less than 1").arg(fileName);
        return false;
    }
    // Check every section before adding anything, so that a broken file leaves the list as it was.
    for (int i = 0; i < count; ++i) {
        const QString section = DeviceSection(i);
        if (!ini.ValueExists(section, QStringLiteral("Manufacturer")) ||
            !ini.ValueExists(section, QStringLiteral("ID"))) {
            FLoadError = QStringLiteral("%1: section %2 lacks Manufacturer or ID").arg(fileName, section);
            return false;
        }
    }
    for (int i = 0; i < count; ++i) {
        const QString section = DeviceSection(i);
        const QString id = ini.ReadString(section, QStringLiteral("ID"), QString());
        const QString manufacturer = ini.ReadString(section, QStringLiteral("Manufacturer"), QString());
        AddDevice(manufacturer, id); // a repeated pair is skipped without notice
    }
    return true;
}

bool TDevicesList::FindDevice(const QString& manufacturer, const QString& id) const {
    return FPairs.contains({manufacturer, id});
}

int TDevicesList::AddDevice(const QString& manufacturer, const QString& id) {
    if (FindDevice(manufacturer, id))
        return adPresent;
    try {
        auto node = std::make_unique<TDeviceListNode>();
        node->Manufacturer = manufacturer;
        node->ID = id;
        FPairs.insert({manufacturer, id});
        TDeviceListNode* added = node.get();
        if (FTail)
            FTail->Next = std::move(node);
        else
            FHead = std::move(node);
        FTail = added;
        return adAdded;
    } catch (const std::bad_alloc&) {
        FPairs.remove({manufacturer, id});
        return adNoMemory;
    }
}
