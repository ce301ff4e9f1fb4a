#include "devices/devicesdb.h"

#include "devices/inireader.h"

#include <QHash>

#include <algorithm>
#include <deque>
#include <limits>
#include <new>
#include <optional>

namespace {

const QString kCompany = QStringLiteral("VELUM Technologies Ltd.");
const QString kDestination = QStringLiteral("Tervolt");

// Folded names, as the reader's scan gives them.
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

// i for the folded name of DeviceSection(i), else -1.
int DeviceIndex(const QString& folded) {
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
    return index <= std::numeric_limits<int>::max() ? int(index) : -1;
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
    FLastFailure.clear();
    QByteArray text;
    if (!TIniReader::ReadFile(fileName, text, &FLastFailure))
        return false;

    // One scan of the lines keeps the header's three values and the IDs and manufacturers of the
    // device sections, nothing else: memory follows the devices, a few times the bytes that list them.
    std::optional<QString> company;
    std::optional<QString> destination;
    std::optional<QString> countText;
    std::deque<TDeviceValue> values;
    QHash<QByteArray, QString> makers; // one string a manufacturer, shared by its devices
    const QString* section = nullptr;
    int index = -1;
    TIniReader::Scan(text, [&](const QString& name, const QString& key, const QByteArray& value) {
        if (key.isEmpty()) {
            section = name == kHeaderKey ? &kHeaderKey : name == kGeneralKey ? &kGeneralKey : nullptr;
            index = DeviceIndex(name);
            return;
        }
        // The first occurrence of a key wins, also when its section is given twice.
        const auto first = [&value](std::optional<QString>& slot) {
            if (!slot)
                slot = QString::fromLatin1(value);
        };
        if (section == &kHeaderKey && key == kCompanyKey) {
            first(company);
        } else if (section == &kHeaderKey && key == kDestinationKey) {
            first(destination);
        } else if (section == &kGeneralKey && key == kCountKey) {
            first(countText);
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
    if (company.value_or(QString()) != kCompany || destination.value_or(QString()) != kDestination) {
        FLastFailure = QStringLiteral("%1 is not a device list for this program").arg(fileName);
        return false;
    }
    int count = -1;
    if (!countText || !TIniReader::ParseInteger(*countText, count) || count <= 0) {
        FLastFailure = QStringLiteral("%1: SupportedDevices is missing or less than 1").arg(fileName);
        return false;
    }
    // The first value of a key wins, also when a section is given twice. A list in file order, as
    // lists are, needs no sorting (and no sorting buffer).
    const auto byIndex = [](const TDeviceValue& a, const TDeviceValue& b) {
        return a.Index != b.Index ? a.Index < b.Index : a.IsId < b.IsId;
    };
    if (!std::is_sorted(values.begin(), values.end(), byIndex))
        std::stable_sort(values.begin(), values.end(), byIndex);
    // Every listed section is checked before anything is added, so that a broken file leaves the
    // list as it was; then the pairs are added, and the values freed, from the front.
    for (int pass = 0; pass < 2; ++pass) {
        auto at = values.begin();
        for (int i = 0; i < count; ++i) {
            const QString* manufacturer = nullptr;
            const QString* id = nullptr;
            for (; at != values.end() && at->Index == i; ++at) {
                const QString** slot = at->IsId ? &id : &manufacturer;
                if (!*slot)
                    *slot = &at->Text;
            }
            if (pass == 1) {
                AddDevice(*manufacturer, *id); // a repeated pair is skipped without notice
                at = values.erase(values.begin(), at);
            } else if (!manufacturer || !id) {
                FLastFailure =
                    QStringLiteral("%1: section %2 lacks Manufacturer or ID").arg(fileName, DeviceSection(i));
                return false;
            }
        }
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
