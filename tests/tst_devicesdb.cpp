// The device list: which files are accepted, what they add, and how pairs are looked up.

#include "devices/devicesdb.h"
#include "devices/deviceslocation.h"
#include "devices/inireader.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

namespace {

const QByteArray kHeader = "[Header]\nCompany=VELUM Technologies Ltd.\nDestination=Tervolt\n";

QByteArray ValidFile(int count, const QByteArray& devices) {
    return kHeader + "[GeneralInfo]\nSupportedDevices=" + QByteArray::number(count) + "\n" + devices;
}

QStringList Entries(const TDevicesList& list) {
    QStringList entries;
    for (const TDeviceListNode* node = list.Head(); node; node = node->Next.get())
        entries << node->Manufacturer + QLatin1Char('/') + node->ID;
    return entries;
}

} // namespace

class TDevicesDbTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FDir;
    QString Write(const QByteArray& content) {
        const QString path = FDir.filePath(QStringLiteral("devices.tervolt"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private slots:
    void LoadFile_data();
    void LoadFile();
    void LoadAppendsAndFailedLoadLeavesListAlone();
    void FindDevice_data();
    void FindDevice();
    void AddDeviceKeepsOrderAndRefusesRepeats();
    void LongListIsFreedWithoutRecursion();
    void IntegerRule_data();
    void IntegerRule();
    void ShippedFileListsTheSimulatorChipFirst();
    void LocateFile_data();
    void LocateFile();
    void PerUserListAddsChips_data();
    void PerUserListAddsChips();
};

void TDevicesDbTest::LoadFile_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QStringList>("entries");

    const QByteArray two = "[Device0]\nManufacturer=AK\nID=X1\n[Device1]\nManufacturer=BQ\nID=Y2\n";
    const QStringList none;
    const QStringList both{"AK/X1", "BQ/Y2"};

    QTest::newRow("two devices in file order") << ValidFile(2, two) << true << both;
    QTest::newRow("company differs in case")
        << QByteArray("[Header]\nCompany=VELUM TECHNOLOGIES LTD.\nDestination=Tervolt\n[GeneralInfo]\n"
                      "SupportedDevices=2\n" +
                      two)
        << false << none;
    QTest::newRow("company missing")
        << QByteArray("[Header]\nDestination=Tervolt\n[GeneralInfo]\nSupportedDevices=2\n" + two) << false
        << none;
    QTest::newRow("destination differs")
        << QByteArray("[Header]\nCompany=VELUM Technologies Ltd.\nDestination=tervolt\n[GeneralInfo]\n"
                      "SupportedDevices=2\n" +
                      two)
        << false << none;
    QTest::newRow("blank inside quotes is kept")
        << QByteArray("[Header]\nCompany=VELUM Technologies Ltd.\nDestination=\" Tervolt\"\n[GeneralInfo]\n"
                      "SupportedDevices=2\n" +
                      two)
        << false << none;
    for (const char* count : {"0", "-1", "abc", "", "0x", "$", "2x"}) {
        QTest::addRow("SupportedDevices \"%s\"", count)
            << QByteArray(kHeader + "[GeneralInfo]\nSupportedDevices=" + count + "\n" + two) << false << none;
    }
    QTest::newRow("SupportedDevices missing")
        << QByteArray(kHeader + "[GeneralInfo]\n" + two) << false << none;
    for (const char* count : {"0x02", "0X02", "$2", " 2 ", "+2", "\"2\""}) {
        QTest::addRow("SupportedDevices \"%s\" means 2", count)
            << QByteArray(kHeader + "[GeneralInfo]\nSupportedDevices=" + count + "\n" + two) << true << both;
    }
    QTest::newRow("lower-case sections and keys")
        << QByteArray("[header]\ncompany=VELUM Technologies Ltd.\nDESTINATION=Tervolt\n[generalinfo]\n"
                      "supporteddevices=1\n[device0]\nmanufacturer=AK\nid=X1\n")
        << true << QStringList{"AK/X1"};
    QTest::newRow("Device1 lacks ID")
        << ValidFile(2, "[Device0]\nManufacturer=AK\nID=X1\n[Device1]\nManufacturer=BQ\n") << false << none;
    QTest::newRow("Device1 lacks Manufacturer")
        << ValidFile(2, "[Device0]\nManufacturer=AK\nID=X1\n[Device1]\nID=Y2\n") << false << none;
    QTest::newRow("Device1 missing") << ValidFile(2, "[Device0]\nManufacturer=AK\nID=X1\n") << false << none;
    QTest::newRow("Device1 ignored when N is 1") << ValidFile(1, two) << true << QStringList{"AK/X1"};
    QTest::newRow("leading zero is another section")
        << ValidFile(2, "[Device0]\nManufacturer=AK\nID=X1\n[Device01]\nManufacturer=BQ\nID=Y2\n") << false
        << none;
    QByteArray eleven;
    for (int i = 0; i <= 10; ++i)
        eleven +=
            "[Device" + QByteArray::number(i) + "]\nManufacturer=M\nID=D" + QByteArray::number(i) + "\n";
    QTest::newRow("Device10 is read as index ten")
        << ValidFile(11, eleven) << true << QStringList{"M/D0", "M/D1", "M/D2", "M/D3", "M/D4", "M/D5",
                                                        "M/D6", "M/D7", "M/D8", "M/D9", "M/D10"};
    QTest::newRow("duplicates give one entry")
        << ValidFile(3, "[Device0]\nManufacturer=AK\nID=X1\n[Device1]\nManufacturer=AK\nID=X1\n"
                        "[Device2]\nManufacturer=AK\nID=x1\n")
        << true << QStringList{"AK/X1", "AK/x1"};
    QTest::newRow("same ID, other manufacturer")
        << ValidFile(2, "[Device0]\nManufacturer=AK\nID=X1\n[Device1]\nManufacturer=BQ\nID=X1\n") << true
        << QStringList{"AK/X1", "BQ/X1"};
    QTest::newRow("empty ID is loaded")
        << ValidFile(1, "[Device0]\nManufacturer=AK\nID=\n") << true << QStringList{"AK/"};
    QTest::newRow("quotes and blanks around values")
        << QByteArray("[ Header ]\n  Company =  \"VELUM Technologies Ltd.\"  \n\tDestination\t=\t'Tervolt'\n"
                      "[GeneralInfo]\nSupportedDevices = 1\n[Device0]\nManufacturer = \"AK\"\nID=  X1 \t\n")
        << true << QStringList{"AK/X1"};
    QTest::newRow("CR LF, byte order mark, comments, malformed lines")
        << QByteArray("\xEF\xBB\xBF; list\r\n" + kHeader +
                      "garbage line\r\n=orphan\r\n[GeneralInfo\r\n"
                      "SupportedDevices=9\r\n[GeneralInfo]\r\n# note\r\nSupportedDevices=1\r\n[Device0]\r\n"
                      "Manufacturer=AK\r\nID=X1\r\n")
        << true << QStringList{"AK/X1"};
    QTest::newRow("keys before any section belong nowhere")
        << QByteArray(
               "Company=VELUM Technologies Ltd.\nDestination=Tervolt\n[GeneralInfo]\nSupportedDevices=1\n"
               "[Device0]\nManufacturer=AK\nID=X1\n")
        << false << none;
    QTest::newRow("duplicate sections merge, first key wins")
        << ValidFile(1, "[Device0]\nManufacturer=AK\n[Other]\nID=no\n[DEVICE0]\nManufacturer=BQ\nID=X1\n")
        << true << QStringList{"AK/X1"};
    QTest::newRow("empty file") << QByteArray() << false << none;
}

void TDevicesDbTest::LoadFile() {
    QFETCH(QByteArray, content);
    QFETCH(bool, accepted);
    QFETCH(QStringList, entries);

    TDevicesList list;
    QCOMPARE(list.LoadFromFile(Write(content)), accepted);
    QCOMPARE(Entries(list), entries);
    QCOMPARE(list.Count(), entries.size());
    QCOMPARE(list.LastFailure().isEmpty(), accepted);
}

void TDevicesDbTest::LoadAppendsAndFailedLoadLeavesListAlone() {
    TDevicesList list;
    QCOMPARE(list.AddDevice(QStringLiteral("PRE"), QStringLiteral("P0")), int(TDevicesList::adAdded));
    QVERIFY(!list.LoadFromFile(Write(ValidFile(2, "[Device0]\nManufacturer=AK\nID=X1\n"))));
    QCOMPARE(Entries(list), QStringList{"PRE/P0"});
    QVERIFY(list.LoadFromFile(Write(ValidFile(2, "[Device0]\nManufacturer=AK\nID=X1\n[Device1]\n"
                                                 "Manufacturer=PRE\nID=P0\n"))));
    QCOMPARE(Entries(list), (QStringList{"PRE/P0", "AK/X1"}));
}

void TDevicesDbTest::FindDevice_data() {
    QTest::addColumn<QString>("manufacturer");
    QTest::addColumn<QString>("id");
    QTest::addColumn<bool>("found");

    QTest::newRow("first entry") << "VELUM"
                                 << "VF040B" << true;
    QTest::newRow("second entry") << "ZELVORA"
                                  << "ZV1M4C" << true;
    QTest::newRow("manufacturer case") << "Velum"
                                       << "VF040B" << false;
    QTest::newRow("id case") << "VELUM"
                             << "vf040b" << false;
    QTest::newRow("manufacturer of one, id of the other") << "VELUM"
                                                          << "ZV1M4C" << false;
    QTest::newRow("prefix of the id") << "VELUM"
                                      << "VF040" << false;
    QTest::newRow("id with more") << "VELUM"
                                  << "VF040BX" << false;
    QTest::newRow("trailing blank") << "VELUM "
                                    << "VF040B" << false;
    QTest::newRow("both swapped") << "VF040B"
                                  << "VELUM" << false;
    QTest::newRow("empty") << ""
                           << "" << false;
}

void TDevicesDbTest::FindDevice() {
    QFETCH(QString, manufacturer);
    QFETCH(QString, id);
    QFETCH(bool, found);

    TDevicesList list;
    QVERIFY(!list.FindDevice(manufacturer, id)); // an empty list matches nothing
    list.AddDevice(QStringLiteral("VELUM"), QStringLiteral("VF040B"));
    list.AddDevice(QStringLiteral("ZELVORA"), QStringLiteral("ZV1M4C"));
    QCOMPARE(list.FindDevice(manufacturer, id), found);
}

void TDevicesDbTest::AddDeviceKeepsOrderAndRefusesRepeats() {
    TDevicesList list;
    QCOMPARE(list.AddDevice(QStringLiteral("A"), QStringLiteral("1")), int(TDevicesList::adAdded));
    QCOMPARE(list.AddDevice(QStringLiteral("B"), QStringLiteral("1")), int(TDevicesList::adAdded));
    QCOMPARE(list.AddDevice(QStringLiteral("A"), QStringLiteral("1")), int(TDevicesList::adPresent));
    QCOMPARE(list.AddDevice(QStringLiteral("A"), QStringLiteral("2")), int(TDevicesList::adAdded));
    QCOMPARE(Entries(list), (QStringList{"A/1", "B/1", "A/2"}));
    list.Clear();
    QVERIFY(list.Head() == nullptr);
    QVERIFY(!list.FindDevice(QStringLiteral("A"), QStringLiteral("1")));
    QCOMPARE(list.AddDevice(QStringLiteral("A"), QStringLiteral("1")), int(TDevicesList::adAdded));
    QCOMPARE(Entries(list), QStringList{"A/1"});
}

void TDevicesDbTest::LongListIsFreedWithoutRecursion() {
    auto list = std::make_unique<TDevicesList>();
    const QString manufacturer = QStringLiteral("M");
    for (int i = 0; i < 200000; ++i)
        list->AddDevice(manufacturer, QString::number(i));
    QCOMPARE(list->Count(), 200000);
    QVERIFY(list->FindDevice(manufacturer, QStringLiteral("199999")));
    // Freed on a small stack: a chain that frees itself node by node would overflow it.
    std::unique_ptr<QThread> thread(QThread::create([&list] { list.reset(); }));
    thread->setStackSize(256 * 1024);
    thread->start();
    QVERIFY(thread->wait(QDeadlineTimer(60000)));
    QVERIFY(list == nullptr);
}

void TDevicesDbTest::IntegerRule_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("numeric");
    QTest::addColumn<int>("value");

    QTest::newRow("decimal") << "17" << true << 17;
    QTest::newRow("negative") << "-5" << true << -5;
    QTest::newRow("0x prefix") << "0x1F" << true << 31;
    QTest::newRow("0X prefix, lower digits") << "0X1f" << true << 31;
    QTest::newRow("dollar") << "$1F" << true << 31;
    QTest::newRow("negative dollar") << "-$2" << true << -2;
    QTest::newRow("leading zero stays decimal") << "010" << true << 10;
    QTest::newRow("largest") << "2147483647" << true << 2147483647;
    QTest::newRow("too large") << "2147483648" << false << 0;
    QTest::newRow("hex too large") << "0x80000000" << false << 0;
    QTest::newRow("bare 0x") << "0x" << false << 0;
    QTest::newRow("sign after 0x") << "0x-1" << false << 0;
    QTest::newRow("hex digits without prefix") << "1F" << false << 0;
    QTest::newRow("inner blank") << "1 2" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
}

void TDevicesDbTest::IntegerRule() {
    QFETCH(QString, text);
    QFETCH(bool, numeric);
    QFETCH(int, value);

    int parsed = 0;
    QCOMPARE(TIniReader::ParseInteger(text, parsed), numeric);
    if (numeric)
        QCOMPARE(parsed, value);
}

void TDevicesDbTest::ShippedFileListsTheSimulatorChipFirst() {
    TDevicesList list;
    QVERIFY2(list.LoadFromFile(QStringLiteral(TERVOLT_BIN_DIR "/devices.tervolt")),
             qPrintable(list.LastFailure()));
    QVERIFY(list.Head() != nullptr);
    QCOMPARE(list.Head()->Manufacturer, QStringLiteral("VELUM"));
    QCOMPARE(list.Head()->ID, QStringLiteral("VF040B"));
    QVERIFY(list.Count() > 1);
}

// What lies beside the program ("file", "dir" or nothing) and in the installed data folder.
void TDevicesDbTest::LocateFile_data() {
    QTest::addColumn<QString>("beside");
    QTest::addColumn<QString>("installed");
    QTest::addColumn<int>("found"); // index into the candidates, -1 for none
    QTest::newRow("portable copy wins") << "file"
                                        << "file" << 0;
    QTest::newRow("installed list") << ""
                                    << "file" << 1;
    QTest::newRow("a folder of that name is no list") << "dir"
                                                      << "file" << 1;
    QTest::newRow("nowhere") << ""
                             << "" << -1;
}

void TDevicesDbTest::LocateFile() {
    QFETCH(QString, beside);
    QFETCH(QString, installed);
    QFETCH(int, found);
    const QTemporaryDir prefix;
    const QDir root(prefix.path());
    const QString bin = root.filePath(QStringLiteral("bin"));
    // Installed beside the programs (Windows), the per-user list is the second place.
    const bool flat = QStringLiteral(TERVOLT_DATA_DIR_FROM_BIN).isEmpty();
    const QString data = flat ? QFileInfo(UserDevicesFile()).path()
                              : QDir::cleanPath(bin + QStringLiteral("/" TERVOLT_DATA_DIR_FROM_BIN));
    const QStringList candidates{bin + QStringLiteral("/devices.tervolt"),
                                 data + QStringLiteral("/devices.tervolt")};
    QVERIFY(root.mkpath(bin) && root.mkpath(data));
    // The per-user place is the user's own: what this test puts there goes again.
    const auto cleanUp = qScopeGuard([flat, &candidates] {
        if (flat)
            QDir(candidates[1]).exists() ? QDir(candidates[1]).removeRecursively()
                                         : QFile::remove(candidates[1]);
    });
    const QStringList kinds{beside, installed};
    for (int i = 0; i < 2; ++i) {
        QFile file(candidates[i]);
        QVERIFY(kinds[i] != QLatin1String("file") || file.open(QIODevice::WriteOnly));
        QVERIFY(kinds[i] != QLatin1String("dir") || root.mkpath(candidates[i]));
    }

    const TDevicesFileLocation location = LocateDevicesFile(bin);
    QCOMPARE(location.Tried, candidates);
    QCOMPARE(location.Path, found < 0 ? QString() : candidates[found]);
    QCOMPARE(location.NotFoundText(),
             QStringLiteral("devices.tervolt not found; looked for %1, then %2")
                 .arg(QDir::toNativeSeparators(candidates[0]), QDir::toNativeSeparators(candidates[1])));
}

void TDevicesDbTest::PerUserListAddsChips_data() {
    QTest::addColumn<QByteArray>("user"); // empty: no per-user list
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("error");
    const QStringList installed{QStringLiteral("VELUM/VF040B")};
    QTest::newRow("none") << QByteArray() << true << installed << QString();
    QTest::newRow("adds a chip, repeats skipped")
        << ValidFile(2, "[Device0]\nManufacturer=ACME\nID=A1\n[Device1]\nManufacturer=VELUM\nID=VF040B\n")
        << true << QStringList{QStringLiteral("VELUM/VF040B"), QStringLiteral("ACME/A1")} << QString();
    QTest::newRow("broken: reported, nothing of it added")
        << ValidFile(2, "[Device0]\nManufacturer=ACME\nID=A1\n") << false << installed
        << QStringLiteral("the per-user list: ");
}

void TDevicesDbTest::PerUserListAddsChips() {
    QFETCH(QByteArray, user);
    QFETCH(bool, loaded);
    QFETCH(QStringList, entries);
    QFETCH(QString, error);
    const QTemporaryDir data;
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    const QString userFile = UserDevicesFile();
    if (userFile != data.filePath(QStringLiteral("tervolt/devices.tervolt"))) {
        if (oldData.isNull())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", oldData);
        QSKIP("the per-user data folder does not follow XDG_DATA_HOME on this system (Windows)");
    }
    if (!user.isEmpty()) {
        QVERIFY(QDir(data.path()).mkpath(QStringLiteral("tervolt")));
        QFile file(userFile);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(user) == user.size());
    }
    const QString installed = Write(ValidFile(1, "[Device0]\nManufacturer=VELUM\nID=VF040B\n"));
    TDevicesList list;
    QString why;
    const bool ok = LoadDeviceLists(list, installed, why);
    if (oldData.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", oldData);
    QCOMPARE(ok, loaded);
    QCOMPARE(Entries(list), entries);
    QVERIFY2(error.isEmpty() ? why.isEmpty() : why.startsWith(error) && why.contains(userFile),
             qPrintable(why));
}

QTEST_GUILESS_MAIN(TDevicesDbTest)
#include "tst_devicesdb.moc"
