#include "devices/devicesdb.h"

#include "devices/inireader.h"

#include <new>

namespace {

const QString kHeaderSection = QStringLiteral("Header");
const QString kGeneralSection = QStringLiteral("GeneralInfo");
const QString kCompany = QStringLiteral("VELUM Technologies Ltd.");
const QString kDestination = QStringLiteral("Tervolt");

// Folded names, as the reader's filter sees them.
const QString kHeaderKey = QStringLiteral("header");
const QString kGeneralKey = QStringLiteral("generalinfo");
const QString kCompanyKey = QStringLiteral("company");
const QString kDestinationKey = QStringLiteral("destination");
const QString kCountKey = QStringLiteral("supporteddevices");
const QString kIdKey = QStringLiteral("id");
const QString kManufacturerKey = QStringLiteral("manufacturer");
const QString kDevicePrefix = QStringLiteral("device");

QString DeviceSection(int index) {
    return QStringLiteral("Device") + QString::number(index);
}

// True for the folded name of DeviceSection(i) with i below `count`.
bool ListedDeviceSection(const QString& folded, int count) {
    if (!folded.startsWith(kDevicePrefix))
        return false;
    const QStringView digits = QStringView(folded).mid(kDevicePrefix.size());
    if (digits.isEmpty() || digits.size() > 10 || (digits.size() > 1 && digits.front() == u'0'))
        return false;
    qint64 index = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return false;
        index = index * 10 + (c.unicode() - u'0');
    }
    return index < count;
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
    QByteArray text;
    if (!TIniReader::ReadFile(fileName, text, &FLoadError))
        return false;

    // Two passes over the text, each keeping only what it asks about: memory follows the devices
    // listed, however many other lines, sections or keys the file holds.
    TIniReader head;
    head.Parse(text, [](const QString& section, const QString& key) {
        return (section == kHeaderKey && (key.isEmpty() || key == kCompanyKey || key == kDestinationKey)) ||
               (section == kGeneralKey && (key.isEmpty() || key == kCountKey));
    });
    if (head.ReadString(kHeaderSection, QStringLiteral("Company"), QString()) != kCompany ||
        head.ReadString(kHeaderSection, QStringLiteral("Destination"), QString()) != kDestination) {
        FLoadError = QStringLiteral("%1 is not a device list for this program").arg(fileName);
        return false;
    }
    const int count = head.ReadInteger(kGeneralSection, QStringLiteral("SupportedDevices"), -1);
    if (count <= 0) {
        FLoadError = QStringLiteral("%1: SupportedDevices is missing or less than 1").arg(fileName);
        return false;
    }
    TIniReader ini;
    ini.Parse(text, [count](const QString& section, const QString& key) {
        return ListedDeviceSection(section, count) &&
               (key.isEmpty() || key == kIdKey || key == kManufacturerKey);
    });
    text.clear();
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
