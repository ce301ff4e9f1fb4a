// The INI reader and the device list on arbitrary devices.tervolt files.
//
// Checked: the list accepts a file exactly when the file passes the list's rules as the INI reader
// sees it (header texts, a positive count, both keys in Device0 .. DeviceN-1); a refused file leaves
// the list as it was; an accepted one adds each of its pairs once, and nothing else; the nodes, the
// count and FindDevice agree. The reader's integer rule gives back every number it is shown.

#include "devices/devicesdb.h"
#include "devices/inireader.h"
#include "fuzz/fuzzcheck.h"
#include "fuzz/memoryfile.h"

#include <QSet>

#include <cstring>
#include <utility>

namespace {

const QString kEarlierMaker = QStringLiteral("EARLIER");
const QString kEarlierId = QStringLiteral("E1");

QString DeviceSection(int index) {
    return QStringLiteral("Device%1").arg(index);
}

// The acceptance rule, written out again on top of the reader.
bool Acceptable(const TIniReader& ini, int& count) {
    count = ini.ReadInteger(QStringLiteral("GeneralInfo"), QStringLiteral("SupportedDevices"), -1);
    if (ini.ReadString(QStringLiteral("Header"), QStringLiteral("Company"), QString()) !=
            QLatin1String("VELUM Technologies Ltd.") ||
        ini.ReadString(QStringLiteral("Header"), QStringLiteral("Destination"), QString()) !=
            QLatin1String("Tervolt") ||
        count <= 0)
        return false;
    for (int i = 0; i < count; ++i)
        if (!ini.ValueExists(DeviceSection(i), QStringLiteral("Manufacturer")) ||
            !ini.ValueExists(DeviceSection(i), QStringLiteral("ID")))
            return false;
    return true;
}

void CheckIntegerRule(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return;
    std::int32_t number = 0;
    std::memcpy(&number, data, sizeof number);
    int parsed = 0;
    FUZZ_CHECK(TIniReader::ParseInteger(QString::number(number), parsed) && parsed == number);
    if (number >= 0) {
        FUZZ_CHECK(TIniReader::ParseInteger(QStringLiteral("0x") + QString::number(number, 16), parsed) &&
                   parsed == number);
        FUZZ_CHECK(
            TIniReader::ParseInteger(QStringLiteral("$") + QString::number(number, 16).toUpper(), parsed) &&
            parsed == number);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckIntegerRule(data, size);

    TIniReader ini;
    ini.Parse(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    int count = 0;
    const bool acceptable = Acceptable(ini, count);

    static TMemoryFile file;
    file.Write(data, size);
    TDevicesList list;
    FUZZ_CHECK(list.AddDevice(kEarlierMaker, kEarlierId) == TDevicesList::adAdded);
    const bool loaded = list.LoadFromFile(file.Path());
    FUZZ_CHECK(loaded == acceptable);

    QSet<std::pair<QString, QString>> wanted{{kEarlierMaker, kEarlierId}};
    if (loaded)
        for (int i = 0; i < count; ++i)
            wanted.insert({ini.ReadString(DeviceSection(i), QStringLiteral("Manufacturer"), QString()),
                           ini.ReadString(DeviceSection(i), QStringLiteral("ID"), QString())});
    FUZZ_CHECK(list.Count() == wanted.size());

    int nodes = 0;
    for (const TDeviceListNode* node = list.Head(); node; node = node->Next.get()) {
        ++nodes;
        FUZZ_CHECK(wanted.contains({node->Manufacturer, node->ID}));
        FUZZ_CHECK(list.FindDevice(node->Manufacturer, node->ID));
    }
    FUZZ_CHECK(nodes == list.Count());
    FUZZ_CHECK(list.Head()->Manufacturer == kEarlierMaker && list.Head()->ID == kEarlierId);
    list.Clear();
    FUZZ_CHECK(list.Count() == 0 && !list.Head() && !list.FindDevice(kEarlierMaker, kEarlierId));
    return 0;
}
