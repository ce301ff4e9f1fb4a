// Broken device lists (tests/corpus/devices, outcomes in expected.tsv) and broken stored COM settings:
// a bad file or value must be refused with the right answer and must leave nothing half-loaded.

#include "devices/devicesdb.h"
#include "devices/inireader.h"
#include "engine/comsettings.h"
#include "tests/support/clirun.h"
#include "tests/support/residentmemory.h"
#include "tests/support/tsvtable.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

namespace {

const QString kCorpusDir = QStringLiteral(TERVOLT_SOURCE_DIR "/tests/corpus/devices");
const QString kManifest = QStringLiteral("expected.tsv");
constexpr int kMinBrokenLists = 20;
// An entry that is in the list before every load: a refused file must leave it alone.
const QString kEarlierMaker = QStringLiteral("EARLIER");
const QString kEarlierId = QStringLiteral("E1");

struct TListCase {
    QString File;
    bool Loads = false;
    int Entries = 0;
};

std::vector<TListCase> ListCases() {
    std::vector<TListCase> cases;
    for (const QStringList& fields : ReadTable(QDir(kCorpusDir).filePath(kManifest), 4)) {
        if (fields[1] != QLatin1String("true") && fields[1] != QLatin1String("false"))
            qFatal("bad load result in %s: %s", qPrintable(kManifest), qPrintable(fields.join(u'\t')));
        cases.push_back({fields[0], fields[1] == QLatin1String("true"), fields[2].toInt()});
    }
    return cases;
}

int NodeCount(const TDevicesList& list) {
    int count = 0;
    for (const TDeviceListNode* node = list.Head(); node; node = node->Next.get())
        ++count;
    return count;
}

// Writes the settings file exactly as given, so that values can be anything a hand edit leaves.
void WriteSettingsFile(const QString& base, const std::optional<QByteArray>& port,
                       const std::optional<QByteArray>& baudRate) {
    QDir(base).mkpath(QStringLiteral("VELUM"));
    QFile file(QDir(base).filePath(QStringLiteral("VELUM/Tervolt.conf")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(file.fileName()));
    QByteArray text = "[ComSettings]\n";
    if (port)
        text += "COMPort=" + *port + "\n";
    if (baudRate)
        text += "BaudRate=" + *baudRate + "\n";
    file.write(text);
}

void UseSettingsBase(const QString& base) {
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(base));
}

// The most memory this process has held so far, in KiB.
long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

using TOptionalText = std::optional<QByteArray>;
using TOptionalValue = std::optional<std::int32_t>;

} // namespace

Q_DECLARE_METATYPE(TOptionalText)
Q_DECLARE_METATYPE(TOptionalValue)

class TTestCorpusDevices : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FSettingsBase;

private slots:
    void initTestCase();
    void hugeListOfTinySectionsStaysSmall();
    void manifestCoversCorpus();
    void loadList_data();
    void loadList();
    void missingFile();
    void storedSettings_data();
    void storedSettings();
    void settingsFileNotToWrite_data();
    void settingsFileNotToWrite();
};

void TTestCorpusDevices::initTestCase() {
    // Nothing here may read or write the user's own settings.
    QVERIFY(FSettingsBase.isValid());
    UseSettingsBase(FSettingsBase.path());
}

// First of all, while this process is still small: memory must follow the devices listed, not the
// sections, lines or keys the file holds.
void TTestCorpusDevices::hugeListOfTinySectionsStaysSmall() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tiny.tervolt"));
    QByteArray text = "[Header]\nCompany=VELUM Technologies Ltd.\nDestination=Tervolt\n[GeneralInfo]\n"
                      "SupportedDevices=1\n[Device0]\nManufacturer=M\nID=I\n";
    text.reserve(TIniReader::kMaxFileBytes);
    for (int i = 0; text.size() + 40 < TIniReader::kMaxFileBytes; ++i)
        text += "[S" + QByteArray::number(i) + "]\nk=v\n\n\n\n";
    QVERIFY(WriteFile(path, text));
    text = QByteArray();
    const long before = PeakKiB();
    TDevicesList list;
    QVERIFY2(list.LoadFromFile(path), qPrintable(list.LastFailure()));
    QCOMPARE(list.Count(), 1);
    // The file's own 16 MiB, read once, and little else (it took gigabytes when every section was kept).
    constexpr long kAllowedKiB = 64 * 1024;
    QVERIFY2(!kResidentSizeIsMeaningful || PeakKiB() - before < kAllowedKiB,
             qPrintable(QString::number(PeakKiB() - before)));
}

void TTestCorpusDevices::manifestCoversCorpus() {
    QStringList listed;
    int refused = 0;
    for (const TListCase& c : ListCases()) {
        listed << c.File;
        refused += c.Loads ? 0 : 1;
    }
    listed.sort();
    QCOMPARE(listed, CorpusFolderFiles(kCorpusDir, kManifest));
    QVERIFY2(refused >= kMinBrokenLists, qPrintable(QString::number(refused)));
}

void TTestCorpusDevices::loadList_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<int>("entries");
    for (const TListCase& c : ListCases())
        QTest::newRow(qPrintable(c.File)) << c.File << c.Loads << c.Entries;
}

void TTestCorpusDevices::loadList() {
    QFETCH(QString, file);
    QFETCH(bool, loads);
    QFETCH(int, entries);
    TDevicesList list;
    QCOMPARE(list.AddDevice(kEarlierMaker, kEarlierId), int(TDevicesList::adAdded));

    // A count of two thousand million must not make the check walk that many sections.
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(list.LoadFromFile(QDir(kCorpusDir).filePath(file)), loads);
    QVERIFY2(clock.elapsed() < 30000, "loading took longer than any list can need");

    QCOMPARE(list.Count(), 1 + entries);
    QCOMPARE(NodeCount(list), 1 + entries);
    QVERIFY(list.Head());
    QCOMPARE(list.Head()->Manufacturer, kEarlierMaker);
    QCOMPARE(list.Head()->ID, kEarlierId);
    if (!loads)
        QVERIFY(!list.LastFailure().isEmpty());
    for (const TDeviceListNode* node = list.Head(); node; node = node->Next.get())
        QVERIFY(list.FindDevice(node->Manufacturer, node->ID));
}

void TTestCorpusDevices::missingFile() {
    TDevicesList list;
    QVERIFY(!list.LoadFromFile(QDir(kCorpusDir).filePath(QStringLiteral("no-such-file.tervolt"))));
    QVERIFY(!list.LoadFromFile(kCorpusDir)); // a directory is no list either
    QVERIFY(!list.LoadFromFile(QString()));
    // Nor is a named pipe, and opening it must not wait for a writer.
    QTemporaryDir dir;
    const QString pipe = dir.filePath(QStringLiteral("devices.tervolt"));
    QVERIFY(mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
    QVERIFY(!list.LoadFromFile(pipe));
    QVERIFY2(list.LastFailure().contains(QStringLiteral("not a regular file")),
             qPrintable(list.LastFailure()));
    QCOMPARE(list.Count(), 0);
    QVERIFY(!list.Head());
}

void TTestCorpusDevices::storedSettings_data() {
    QTest::addColumn<TOptionalText>("port");
    QTest::addColumn<TOptionalText>("baudRate");
    QTest::addColumn<TOptionalValue>("wantPort");
    QTest::addColumn<TOptionalValue>("wantBaudRate");
    QTest::addColumn<QString>("message");

    const TOptionalText absent;
    const TOptionalValue none;
    const QString portType = QStringLiteral("Invalid data type for 'COMPort'");
    const QString portData = QStringLiteral("Failed to get data for 'COMPort'");
    const QString baudType = QStringLiteral("Invalid data type for 'BaudRate'");
    const QString baudData = QStringLiteral("Failed to get data for 'BaudRate'");
    auto text = [](const char* value) { return TOptionalText(QByteArray(value)); };
    auto value = [](std::int32_t v) { return TOptionalValue(v); };

    QTest::newRow("both valid") << text("2") << text("13") << value(2) << value(13) << QString();
    QTest::newRow("both absent") << absent << absent << none << none << QString();
    QTest::newRow("signs") << text("+5") << text("+3") << value(5) << value(3) << QString();
    // Out of range keeps the default, whatever the low byte says (259 is 0x103, 263 is 0x107).
    QTest::newRow("out of range") << text("259") << text("263") << none << none
                                  << "COMPort=259 is out of range (1 to 256); the default is kept\n"
                                     "BaudRate=263 is out of range (1 to 15); the default is kept";
    QTest::newRow("32-bit limits") << text("-2147483648") << text("2147483647") << none << none
                                   << "COMPort=-2147483648 is out of range (1 to 256); the default is kept\n"
                                      "BaudRate=2147483647 is out of range (1 to 15); the default is kept";
    QTest::newRow("blanks around") << text("  3  ") << text("\t7") << value(3) << value(7) << QString();
    QTest::newRow("quoted") << text("\"4\"") << text("\"12\"") << value(4) << value(12) << QString();
    QTest::newRow("port letters") << text("abc") << text("13") << none << none << portType;
    QTest::newRow("port empty") << text("") << text("13") << none << none << portType;
    QTest::newRow("port hexadecimal") << text("0x2") << text("13") << none << none << portType;
    QTest::newRow("port fraction") << text("2.5") << text("13") << none << none << portType;
    QTest::newRow("port exponent") << text("1e3") << text("13") << none << none << portType;
    QTest::newRow("port name") << text("COM2") << text("13") << none << none << portType;
    QTest::newRow("port digits then text") << text("2x") << text("13") << none << none << portType;
    QTest::newRow("port list") << text("2, 3") << text("13") << none << none << portType;
    QTest::newRow("port invalid variant") << text("@Invalid()") << text("13") << none << none << portType;
    QTest::newRow("port arabic digit") << text("\xd9\xa2") << text("13") << none << none << portType;
    QTest::newRow("port sign only") << text("-") << text("13") << none << none << portType;
    QTest::newRow("port above 32 bits") << text("2147483648") << text("13") << none << none << portData;
    QTest::newRow("port below 32 bits") << text("-2147483649") << text("13") << none << none << portData;
    QTest::newRow("port twenty digits")
        << text("99999999999999999999") << text("13") << none << none << portData;
    QTest::newRow("baud letters") << text("2") << text("fast") << value(2) << none << baudType;
    QTest::newRow("baud rate itself") << text("2") << text("115200.0") << value(2) << none << baudType;
    QTest::newRow("baud above 32 bits") << text("2") << text("4294967296") << value(2) << none << baudData;
    QTest::newRow("baud bad, port absent") << absent << text("x") << none << none << baudType;
    // The first bad value stops the reading: the second is not looked at.
    QTest::newRow("both bad") << text("x") << text("99999999999") << none << none << portType;
}

void TTestCorpusDevices::storedSettings() {
    QFETCH(TOptionalText, port);
    QFETCH(TOptionalText, baudRate);
    QFETCH(TOptionalValue, wantPort);
    QFETCH(TOptionalValue, wantBaudRate);
    QFETCH(QString, message);

    // A fresh location per row: QSettings caches files by path.
    QTemporaryDir base;
    QVERIFY(base.isValid());
    WriteSettingsFile(base.path(), port, baudRate);
    UseSettingsBase(base.path());
    const TStoredComSettings stored = ReadStoredComSettings();
    UseSettingsBase(FSettingsBase.path());

    QStringList said{stored.Error, stored.PortWarning, stored.BaudRateWarning};
    said.removeAll(QString());
    QCOMPARE(said.join(u'\n'), message);
    QCOMPARE(stored.Port, wantPort);
    QCOMPARE(stored.BaudRate, wantBaudRate);
}

// A settings file that is a named pipe must not block; one that is a link to a file that is no settings
// file (an image) must not destroy it. Neither is read nor written, and both say so. A link to a
// settings file is written through.
void TTestCorpusDevices::settingsFileNotToWrite_data() {
    QTest::addColumn<QByteArray>("target"); // what the settings link leads to; null: a named pipe instead
    QTest::addColumn<QString>("error");     // $FILE is the settings path, $TARGET the link's target
    const QString notSettings = QStringLiteral("$FILE is a link to $TARGET, which is not a settings file");
    QTest::newRow("a named pipe") << QByteArray() << "$FILE is not a regular file";
    QTest::newRow("a link to an image") << QByteArray(":00000001FF\n") << notSettings;
    // Text that merely begins as an INI file does: its lines or groups are none of the settings'.
    QTest::newRow("a link to a device list")
        << QByteArray("; FLASH chips\n[Header]\nCompany=VELUM\n[Device0]\nID=VF040B\n") << notSettings;
    QTest::newRow("a link to a trace")
        << QByteArray("# tervolt-cli 1.26, program of a.hex\n12:00:00.000  COM2  >  P RESET\n")
        << notSettings;
    QTest::newRow("a link to a settings file") << QByteArray("; mine\n[ComSettings]\nCOMPort=2\n") << "";
}

void TTestCorpusDevices::settingsFileNotToWrite() {
    QFETCH(QByteArray, target);
    QFETCH(QString, error);
    const bool pipe = target.isNull();
    QTemporaryDir base;
    QVERIFY(QDir(base.path()).mkpath(QStringLiteral("VELUM")));
    const QString file = QDir(base.path()).filePath(QStringLiteral("VELUM/Tervolt.conf"));
    const QString targetFile = QDir(base.path()).filePath(QStringLiteral("target"));
    const QByteArray before = target;
    if (pipe) {
        QVERIFY(mkfifo(QFile::encodeName(file).constData(), 0600) == 0);
    } else {
        QFile written(targetFile);
        QVERIFY(written.open(QIODevice::WriteOnly) && written.write(before) == before.size());
        written.close();
        QVERIFY(QFile::link(targetFile, file));
    }
    UseSettingsBase(base.path());
    const TStoredComSettings stored = ReadStoredComSettings();
    WriteStoredComSettings(3, 7);
    const bool exists = StoredComSettingsExist();
    UseSettingsBase(FSettingsBase.path());
    QCOMPARE(
        stored.Error,
        QString(error).replace(QStringLiteral("$FILE"), file).replace(QStringLiteral("$TARGET"), targetFile));
    QCOMPARE(exists, error.isEmpty());
    QVERIFY(!QFileInfo(file).isFile() || QFileInfo(file).isSymLink());
    if (!pipe) {
        QFile after(targetFile);
        QVERIFY(after.open(QIODevice::ReadOnly));
        const QByteArray text = after.readAll();
        QVERIFY2(error.isEmpty() ? text.contains("COMPort=3") : text == before, text.constData());
    }
}

QTEST_GUILESS_MAIN(TTestCorpusDevices)
#include "tst_corpus_devices.moc"
