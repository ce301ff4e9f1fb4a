// Replays the committed seed corpus of one fuzz harness (fuzz/corpus/<harness>/) through its entry
// function in the normal build, without libFuzzer: every committed input must stay a passing input.
// A broken invariant aborts the program with the harness's message.

#include <QDir>
#include <QFile>
#include <QtTest>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

const QString kCorpusDir = QStringLiteral(TERVOLT_SOURCE_DIR "/fuzz/corpus/" TERVOLT_FUZZ_HARNESS);

QStringList CorpusFiles() {
    return QDir(kCorpusDir).entryList(QDir::Files, QDir::Name);
}

} // namespace

class TTestFuzzReplay : public QObject {
    Q_OBJECT

private slots:
    void corpusPresent() { QVERIFY2(!CorpusFiles().isEmpty(), qPrintable(kCorpusDir + " holds no inputs")); }

    void replay_data() {
        QTest::addColumn<QString>("file");
        for (const QString& name : CorpusFiles())
            QTest::newRow(qPrintable(name)) << name;
    }

    void replay() {
        QFETCH(QString, file);
        QFile input(QDir(kCorpusDir).filePath(file));
        QVERIFY2(input.open(QIODevice::ReadOnly), qPrintable(input.errorString()));
        const QByteArray data = input.readAll();
        QCOMPARE(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(data.constData()),
                                        std::size_t(data.size())),
                 0);
    }
};

QTEST_GUILESS_MAIN(TTestFuzzReplay)
#include "replaymain.moc"
