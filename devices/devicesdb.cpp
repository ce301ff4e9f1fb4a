#include "devices/devicesdb.h"

#include "devices/inireader.h"

#include <QHash>

#include <algorithm>
#include <new>
#include <vector>

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

// i for the folded name of DeviceSection(i) with i below `count`, else -1.
int ListedDeviceIndex(const QString& folded, int count) {
    if (!folded.startsWith(kDevicePrefix))
        return -1;
    const QStringView digits = QStringView(folded).mid(kDevicePrefix.size());
    if (digits.isEmpty() || digits.size() > 10 || (digits.size() > 1 && digits.front() == u'0'))
        return -1;
    qint64 index = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return -1;
        index = index * 10 + (c.unicode() - u'0');
    }
    return index < count ? int(index) : -1;
}

// One value of a listed device section, as the file gives it.
struct TDeviceValue {
    int Index;
    bool IsId;
    QString Text;
};

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

    // The header first, keeping only what it asks about, then the devices.
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
    // One pass keeps the IDs and manufacturers of the listed sections and nothing else: memory
    // follows the devices, a few times the bytes that list them.
    std::vector<TDeviceValue> values;
    QHash<QByteArray, QString> makers; // one string a manufacturer, shared by its devices
    int index = -1;
    TIniReader::Scan(text, [&](const QString& section, const QString& key, const QByteArray& value) {
        if (key.isEmpty()) {
            index = ListedDeviceIndex(section, count);
        } else if (index >= 0 && key == kIdKey) {
            values.push_back({index, true, QString::fromLatin1(value)});
        } else if (index >= 0 && key == kManufacturerKey) {
            auto maker = makers.constFind(value);
            if (maker == makers.cend())
                maker = makers.insert(value, QString::fromLatin1(value));
            values.push_back({index, false, *maker});
        }
    });
    text.clear();
    // The first value of a key wins, also when a section is given twice.
    std::stable_sort(values.begin(), values.end(), [](const TDeviceValue& a, const TDeviceValue& b) {
        return a.Index != b.Index ? a.Index < b.Index : a.IsId < b.IsId;
    });
    // Each listed section's pair: its manufacturer, then its ID, the first of each.
    std::vector<std::pair<const QString*, const QString*>> pairs;
    pairs.reserve(size_t(std::min<qsizetype>(count, qsizetype(values.size()))));
    size_t at = 0;
    for (int i = 0; i < count; ++i) {
        const QString* manufacturer = nullptr;
        const QString* id = nullptr;
        for (; at < values.size() && values[at].Index == i; ++at) {
            const QString** slot = values[at].IsId ? &id : &manufacturer;
            if (!*slot)
                *slot = &values[at].Text;
        }
        // Checked before anything is added, so that a broken file leaves the list as it was.
        if (!manufacturer || !id) {
            FLoadError = QStringLiteral("%1: section %2 lacks Manufacturer or ID").arg(fileName, DeviceSection(i));
            return false;
        }
        pairs.emplace_back(manufacturer, id);
    }
    for (const auto& [manufacturer, id] : pairs)
        AddDevice(*manufacturer, *id); // a repeated pair is skipped without notice
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
