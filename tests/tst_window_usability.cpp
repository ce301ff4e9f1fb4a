// The main window as people use it: what the outcome boxes say and how they look, what the Retry box
// adds about the board, the keyboard's way through the window, the start-address field, the hint when
// no board answers, and choosing the image by dialog or by dropping it. Real windows, offscreen,
// against the simulated board.

#include "app/windowfilefilter.h"
#include "app/windowsessionlog.h"
#include "dialogs/comm_interface.h"
#include "sim/simserver.h"
#include "skin/suicontrols.h"
#include "skin/suiimagebutton.h"
#include "skin/suiradiogroup.h"
#include "tests/support/hexwriter.h"
#include "tests/tst_mainwindow_fixture.h"

#include <QCheckBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QRadioButton>
#include <QSettings>
#include <QTimer>
#include <QUrl>

using namespace std::chrono_literals;

namespace {

const QString kRetryText = QStringLiteral("Communication error occurred!\nSome data may be lost.");
const QString kError = QStringLiteral("Tervolt Error");
const QString kMessage = QStringLiteral("Tervolt Message");

// Where a control sits for the keyboard: "BitBtnStart", or "RadioGroupOperation/Item1" for an item.
QString FocusName(const QWidget* widget) {
    if (widget == nullptr)
        return QStringLiteral("(none)");
    if (qobject_cast<const QRadioButton*>(widget) != nullptr)
        return widget->parentWidget()->objectName() + QLatin1Char('/') + widget->objectName();
    return widget->objectName();
}

bool WriteBytes(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

// One box as the test expects it: text (or its first lines), caption and icon.
struct TBox {
    QString Text;
    QString Caption;
    TsuiIconType Icon = suiInformation;
};

} // namespace

Q_DECLARE_METATYPE(TBox)
Q_DECLARE_METATYPE(QList<TSimFault>)

class TWindowUsabilityTest : public TOneWindowTest {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void RunsAndTheirBoxes_data();
    void RunsAndTheirBoxes();
    void KeyboardOrder_data();
    void KeyboardOrder();
    void StartAddressTyping_data();
    void StartAddressTyping();
    void SilentBoardHint();
    void ChoosingTheImage_data();
    void ChoosingTheImage();

private:
    std::unique_ptr<TSimServer> AttachBoard(const TSimConfig& config = TSimConfig());
    void SelectFormat(int index);
    void TypeStartAddress(const QString& keys);
    void Activate();
    template <class T> T* Get(const char* name) const { return Control<T>(*FForm, name); }
};

void TWindowUsabilityTest::initTestCase() {
    QVERIFY(OpenWindow());
}

void TWindowUsabilityTest::cleanup() {
    ResetChoices(*FForm);
}

void TWindowUsabilityTest::cleanupTestCase() {
    CloseWindow();
}

std::unique_ptr<TSimServer> TWindowUsabilityTest::AttachBoard(const TSimConfig& config) {
    auto board = StartSimBoard(config);
    TMessageRecorder boxes;
    AttachPort(*FForm, QString::fromStdString(board->SlavePath()));
    if (!FForm->FlashIdentified())
        qWarning("the board was not identified: %s", qPrintable(boxes.Texts().join(u'|')));
    Activate();
    return board;
}

// Offscreen, nothing gives the window back its activation when the COM dialog closes.
void TWindowUsabilityTest::Activate() {
    QApplication::setActiveWindow(FForm.get());
    QVERIFY(QTest::qWaitForWindowActive(FForm.get()));
}

void TWindowUsabilityTest::SelectFormat(int index) {
    QTest::mouseClick(Get<TsuiRadioGroup>("RadioGroupHexFileFormat")->Button(index), Qt::LeftButton);
}

// Keys into the emptied field, then Enter applies them.
void TWindowUsabilityTest::TypeStartAddress(const QString& keys) {
    auto* field = Get<TsuiEdit>("EditStartAddress");
    field->setFocus();
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, keys);
}

// ---- Outcome boxes and the Retry box -------------------------------------------------------------

void TWindowUsabilityTest::RunsAndTheirBoxes_data() {
    QTest::addColumn<bool>("verify");
    QTest::addColumn<QString>("startAddress"); // a binary image at this address; empty: Intel HEX
    QTest::addColumn<QList<TSimFault>>("faults");
    QTest::addColumn<int>("autoRetries"); // as chosen in the COM settings
    QTest::addColumn<int>("retryAnswer");
    QTest::addColumn<QString>("prompt");    // the question's own text; empty: none is asked
    QTest::addColumn<QString>("boardSaid"); // in the question's added line
    QTest::addColumn<TBox>("outcome");
    QTest::addColumn<QString>("retriesSaid"); // in the outcome and the log line; empty: no retry is named
    const QList<TSimFault> none;
    const QList<TSimFault> fourthDropped{{fkDrop, 4}};
    const QList<TSimFault> fourthLate{{fkLate, 4, 6000}}; // answered once its wait has run out
    const QString refused = QStringLiteral("The board refused the command.");
    const TBox programOk{QStringLiteral("Program OK!"), kMessage, suiInformation};
    const TBox programCanceled{QStringLiteral("Program operation canceled"), kMessage, suiWarning};
    // Attaching sends the ping and "P ID", Start its own "P ID": the opening command is the fourth.
    // How "Program OK!" and "Compare OK!" look: tst_mainwindow_ops' ProgramThenVerifyHexWithGaps.
    QTest::newRow("compare error is an error")
        << true << QString() << QList<TSimFault>{{fkMismatch, 0x0105}} << 0 << 0 << QString() << QString()
        << TBox{QStringLiteral("Compare error at address 0x000105."), kError, suiStop} << QString();
    QTest::newRow("no answer, retried")
        << false << QString() << fourthLate << 0 << int(mrRetry) << kRetryText
        << QStringLiteral("No answer within") << programOk << QStringLiteral(" after 1 retry");
    QTest::newRow("no answer, retried without asking")
        << false << QString() << fourthLate << 2 << 0 << QString() << QString() << programOk
        << QStringLiteral(" after 1 retry");
    QTest::newRow("cancelled verify informs")
        << true << QString() << fourthDropped << 0 << int(mrCancel) << kRetryText
        << QStringLiteral("No answer within")
        << TBox{QStringLiteral("Verify operation canceled"), kMessage, suiInformation} << QString();
    // A refusal is the board's word, not a line fault; asked once the automatic retries are spent. A
    // Program cut short warns: the FLASH is erased or half-written.
    QTest::newRow("board refuses the address")
        << false << QStringLiteral("1FFFFF") << none << 0 << int(mrCancel) << refused
        << QStringLiteral("Address out of range") << programCanceled << QString();
    QTest::newRow("a refusal is asked at once, whatever the automatic retries")
        << false << QStringLiteral("1FFFFF") << none << 3 << int(mrCancel) << refused
        << QStringLiteral("Address out of range") << programCanceled << QString();
    // A noisy line changes a letter of the awaited answer: a line fault, Retry the default.
    QTest::newRow("garbled answer is the line's")
        << false << QString() << QList<TSimFault>{{fkGarble, 5}} << 0 << int(mrCancel) << kRetryText
        << QStringLiteral("The board answered: done") << programCanceled << QString();
}

void TWindowUsabilityTest::RunsAndTheirBoxes() {
    QFETCH(bool, verify);
    QFETCH(QString, startAddress);
    QFETCH(QList<TSimFault>, faults);
    QFETCH(int, autoRetries);
    QFETCH(int, retryAnswer);
    QFETCH(QString, prompt);
    QFETCH(QString, boardSaid);
    QFETCH(TBox, outcome);
    QFETCH(QString, retriesSaid);
    TSimConfig config;
    config.Faults.assign(faults.begin(), faults.end());
    auto board = AttachBoard(config);
    QVERIFY(FForm->FlashIdentified());
    FForm->CommInterface()->SetAutoRetries(autoRetries);

    // Erased bytes: a freshly erased board verifies them as they are.
    const QByteArray erased(600, char(0xFF));
    QString path;
    if (startAddress.isEmpty()) {
        path = ImagePath(QStringLiteral("erased.hex"));
        std::vector<std::pair<std::uint32_t, QByteArray>> records;
        for (int offset = 0; offset < erased.size(); offset += 16)
            records.emplace_back(0x000100 + offset, erased.mid(offset, 16));
        QVERIFY(WriteIntelHexFile(path, records));
    } else {
        SelectFormat(1);
        TypeStartAddress(startAddress);
        QTest::keyClick(Get<TsuiEdit>("EditStartAddress"), Qt::Key_Return);
        path = ImagePath(QStringLiteral("erased.bin"));
        QVERIFY(WriteBytes(path, erased));
    }
    ChooseFile(path);
    Get<TsuiRadioGroup>("RadioGroupOperation")->SetItemIndex(verify ? 0 : 1);

    // The chip query that opens the run already holds every choice; the run itself too.
    QList<QString> enabledMeanwhile;
    const auto noteEnabled = [&] {
        for (const char* name :
             {"EditStartAddress", "CheckBoxWriteFileSizeOnStart", "BitBtnBrowse", "RadioGroupHexFileFormat",
              "RadioGroupOperation", "BitBtnInit", "BitBtnComSettings"})
            if (Get<QWidget>(name)->isEnabled() && !enabledMeanwhile.contains(QLatin1String(name)))
                enabledMeanwhile.append(QLatin1String(name));
    };
    QTimer::singleShot(0, FForm.get(), noteEnabled); // runs inside the wait for "P ID"
    THexErrorRecorder imageErrors;
    TMessageRecorder boxes([&](const TShownMessage& message) {
        noteEnabled();
        return message.ButtonResults.size() == 2 ? TModalResult(retryAnswer) : mrOk;
    });
    QTest::mouseClick(Get<TsuiImageButton>("BitBtnStart"), Qt::LeftButton); // returns after the run

    QVERIFY2(imageErrors.Texts.isEmpty(), qPrintable(imageErrors.Texts.join(u'|')));
    QVERIFY2(!boxes.Shown.isEmpty(), "no box at all");
    const TShownMessage& last = boxes.Shown.last();
    QCOMPARE(last.Text.section(u'\n', 0, 0), outcome.Text);
    QCOMPARE(last.Caption, outcome.Caption);
    QCOMPARE(last.IconType, outcome.Icon);
    QCOMPARE(boxes.Shown.size(), prompt.isEmpty() ? 1 : 2);
    if (!prompt.isEmpty()) {
        // The question's own text stays; one line below it says what the board did. A refusal would
        // come again at once: Enter cancels it.
        const TShownMessage& asked = boxes.Shown.first();
        QVERIFY2(asked.Text.startsWith(prompt + QLatin1Char('\n')), qPrintable(asked.Text));
        const QString added = asked.Text.mid(prompt.size() + 1);
        QVERIFY2(!added.contains(u'\n') && added.contains(boardSaid), qPrintable(added));
        QCOMPARE(asked.Caption, kError);
        QCOMPARE(asked.DefaultButton, prompt == kRetryText ? 1 : 2);
    }
    const QString logged = FForm->SessionLog().Runs().last();
    if (retriesSaid.isEmpty())
        QVERIFY2(!last.Text.contains(QStringLiteral(" retr")) && !logged.contains(QStringLiteral(" retr")),
                 qPrintable(logged));
    else
        QVERIFY2(last.Text.contains(retriesSaid.trimmed(), Qt::CaseInsensitive) &&
                     logged.contains(retriesSaid),
                 qPrintable(last.Text + u'|' + logged));
    FForm->CommInterface()->SetAutoRetries(0);
    QVERIFY2(enabledMeanwhile.isEmpty(), qPrintable(enabledMeanwhile.join(u',')));
    QCOMPARE(FocusName(QApplication::focusWidget()), QStringLiteral("BitBtnStart"));
}

// ---- Keyboard -------------------------------------------------------------------------------------

void TWindowUsabilityTest::KeyboardOrder_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<QStringList>("stops");
    const QStringList common = {QStringLiteral("BitBtnComSettings"), QStringLiteral("BitBtnInit")};
    QTest::newRow("Intel HEX: no binary settings")
        << 0
        << common + QStringList{"RadioGroupHexFileFormat/Item0", "BitBtnBrowse", "RadioGroupOperation/Item1",
                                "CheckBoxVerifyAfterProgram",    "BitBtnStart",  "BitBtnLog"};
    QTest::newRow("binary") << 1
                            << common + QStringList{"RadioGroupHexFileFormat/Item1",
                                                    "BitBtnBrowse",
                                                    "RadioGroupOperation/Item1",
                                                    "EditStartAddress",
                                                    "CheckBoxWriteFileSizeOnStart",
                                                    "CheckBoxVerifyAfterProgram",
                                                    "BitBtnStart",
                                                    "BitBtnLog"};
}

void TWindowUsabilityTest::KeyboardOrder() {
    QFETCH(int, format);
    QFETCH(QStringList, stops);
    auto board = AttachBoard();
    ChooseFile(ImagePath(QStringLiteral("order.hex"))); // selects Auto-detect
    SelectFormat(format);
    QVERIFY(Get<TsuiImageButton>("BitBtnStart")->isEnabled());

    Get<QWidget>("BitBtnComSettings")->setFocus(Qt::TabFocusReason);
    QStringList seen = {FocusName(QApplication::focusWidget())};
    for (qsizetype i = 0; i < stops.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        seen.append(FocusName(QApplication::focusWidget()));
    }
    QCOMPARE(seen, stops + QStringList{stops.first()}); // and round again

    // Arrows move within a group and choose as they go.
    auto* operation = Get<TsuiRadioGroup>("RadioGroupOperation");
    operation->Button(1)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(operation->Button(1), Qt::Key_Up);
    QCOMPARE(operation->ItemIndex(), 0);
    QCOMPARE(FocusName(QApplication::focusWidget()), QStringLiteral("RadioGroupOperation/Item0"));

    // Start without a file (the button itself is disabled then) sends nothing after the chip query
    // and ends on Browse, where the next step is.
    TMessageRecorder boxes;
    Get<TsuiEdit>("EditFileName")->clear();
    const std::uint64_t before = board->Stats().Commands;
    FForm->BitBtnStartClick();
    QCOMPARE(boxes.Texts(), QStringList{QStringLiteral("Please specify File Name first")});
    QCOMPARE(boxes.Shown.first().Caption, kError);
    QCOMPARE(boxes.Shown.first().IconType, suiStop);
    QCOMPARE(board->Stats().Commands, before + 1);
    QVERIFY(!FForm->Busy());
    QCOMPARE(FocusName(QApplication::focusWidget()), QStringLiteral("BitBtnBrowse"));
}

// ---- Start address --------------------------------------------------------------------------------

void TWindowUsabilityTest::StartAddressTyping_data() {
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<QString>("kept");  // what the field holds before it is applied
    QTest::addColumn<bool>("leave");    // applied by leaving the field, else by Enter
    QTest::addColumn<qint64>("stored"); // the address then, or
    QTest::addColumn<bool>("refused");  // the error box, and the address stays
    QTest::newRow("digits") << "1234" << QString() << "1234" << false << qint64(0x1234) << false;
    QTest::newRow("digits, leaving") << "1234" << QString() << "1234" << true << qint64(0x1234) << false;
    QTest::newRow("other letters are not taken")
        << "12G4 z" << QString() << "124" << false << qint64(0x124) << false;
    QTest::newRow("typed prefix: the x is not taken")
        << "0x1F" << QString() << "01F" << false << qint64(0x1F) << false;
    QTest::newRow("at most eight digits")
        << "123456789" << QString() << "12345678" << false << qint64(0x12345678) << false;
    QTest::newRow("all bits") << "ffffffff" << QString() << "ffffffff" << false << qint64(-1) << false;
    QTest::newRow("top bit") << "80000000" << QString() << "80000000" << true << qint64(INT32_MIN) << false;
    QTest::newRow("pasted with prefix") << ""
                                        << "0x00ABCDEF"
                                        << "00ABCDEF" << false << qint64(0xABCDEF) << false;
    QTest::newRow("pasted text") << ""
                                 << "address 12"
                                 << "" << false << qint64(0xC0DE) << true;
    QTest::newRow("nothing") << "" << QString() << "" << false << qint64(0xC0DE) << true;
    QTest::newRow("nothing, leaving") << "" << QString() << "" << true << qint64(0xC0DE) << true;
}

void TWindowUsabilityTest::StartAddressTyping() {
    QFETCH(QString, keys);
    QFETCH(QString, pasted);
    QFETCH(QString, kept);
    QFETCH(bool, leave);
    QFETCH(qint64, stored);
    QFETCH(bool, refused);
    Activate();
    SelectFormat(1);
    auto* field = Get<TsuiEdit>("EditStartAddress");
    field->setFocus();
    field->setText(QStringLiteral("C0DE"));
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(FForm->StartAddress(), 0xC0DE);

    TypeStartAddress(keys);
    if (!pasted.isNull())
        field->insert(pasted); // what a paste does
    QCOMPARE(field->text(), kept);
    TMessageRecorder boxes;
    if (leave)
        Get<QCheckBox>("CheckBoxWriteFileSizeOnStart")->setFocus();
    else
        QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(qint64(FForm->StartAddress()), stored);
    QCOMPARE(field->text(), QStringLiteral("%1").arg(quint32(stored), 8, 16, QLatin1Char('0')).toUpper());
    if (refused) {
        QCOMPARE(boxes.Texts(),
                 QStringList{QLatin1Char('"') + kept + QStringLiteral("\" is illegal hexadecimal string")});
        QCOMPARE(boxes.Shown.first().Caption, kError);
        QCOMPARE(boxes.Shown.first().IconType, suiStop);
        QCOMPARE(boxes.Shown.first().ButtonCaptions, QStringList{QStringLiteral("Ok")});
        QVERIFY2(field->hasFocus(), "the field gets the focus back");
    } else {
        QVERIFY(boxes.Shown.isEmpty());
        QCOMPARE(field->hasFocus(), !leave); // Enter applies without leaving the field
    }
    field->setFocus();

    // All eight digits fit while the field has the focus: nothing is scrolled out at the left.
    const auto firstDigitLeft = [field](const QString& text) {
        field->setText(text);
        field->setCursorPosition(int(text.size()));
        field->grab(); // lays the text out as painting does
        field->setCursorPosition(0);
        return field->inputMethodQuery(Qt::ImCursorRectangle).toRect().left();
    };
    QVERIFY(field->hasFocus());
    QCOMPARE(firstDigitLeft(QStringLiteral("DDDDDDDD")), firstDigitLeft(QStringLiteral("D")));
    QCOMPARE(firstDigitLeft(QStringLiteral("88888888")), firstDigitLeft(QStringLiteral("8")));
}

// ---- No board -------------------------------------------------------------------------------------

void TWindowUsabilityTest::SilentBoardHint() {
    TScriptedBoard board;
    TMessageRecorder boxes;
    AttachPort(*FForm, board.SlavePath());
    auto* hint = Get<QLabel>("LabelHint");
    QVERIFY2(!hint->isVisible(), "not at the first unanswered ping");

    QVERIFY2(WaitUntil([&] { return hint->isVisible(); }, 20s), "no hint for a silent board");
    QVERIFY2(board.Pings() >= 5, "pinging goes on meanwhile");
    for (const QString& part : {QStringLiteral("COM2"), board.SlavePath(), QStringLiteral("115200")})
        QVERIFY2(hint->text().contains(part), qPrintable(hint->text()));
    QVERIFY(FForm->AutoIdentifierTimer()->isActive());

    board.SetMode(TScriptedBoard::bmAnswering);
    QVERIFY(WaitUntil([&] { return FForm->FlashIdentified(); }, 10s));
    QVERIFY(!hint->isVisible());
    QVERIFY(boxes.Shown.isEmpty());
}

// ---- Choosing the image ---------------------------------------------------------------------------

void TWindowUsabilityTest::ChoosingTheImage_data() {
    QTest::addColumn<QString>("dropped"); // a file name in its own folder; empty: no drop
    QTest::addColumn<bool>("taken");
    QTest::addColumn<int>("format"); // the format item chosen afterwards
    QTest::newRow("binary by its extension") << "app.BIN" << true << 1;
    QTest::newRow("rbf") << "app.rbf" << true << 1;
    QTest::newRow("anything else is auto-detected") << "app.s19" << true << 2;
    QTest::newRow("a folder is not an image") << "folder/" << false << 0;
}

void TWindowUsabilityTest::ChoosingTheImage() {
    QFETCH(QString, dropped);
    QFETCH(bool, taken);
    QFETCH(int, format);
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
    const QString first = ImagePath(tag + QStringLiteral("/one/first.hex"));
    const QString second = ImagePath(tag + QStringLiteral("/two/") + dropped);
    QVERIFY(QDir().mkpath(QFileInfo(first).path()) && QDir().mkpath(QFileInfo(second).path()));
    QVERIFY(WriteBytes(first, ":00000001FF\n"));
    if (!dropped.endsWith(u'/'))
        QVERIFY(WriteBytes(second, QByteArray(16, '\0')));

    // The dialog opens where the image is, else where the last one came from.
    QStringList filters;
    FForm->SetOpenFileDialog([&](QWidget*, const QString& filter) {
        filters.append(filter);
        return first;
    });
    FForm->BitBtnBrowseClick();
    QCOMPARE(Get<TsuiEdit>("EditFileName")->toolTip(), first);
    FForm->BitBtnBrowseClick();
    QCOMPARE(FForm->OpenDialogFolder(), QFileInfo(first).absolutePath());
    Get<TsuiEdit>("EditFileName")->clear();
    SelectFormat(1);
    FForm->BitBtnBrowseClick();
    QCOMPARE(FForm->OpenDialogFolder(), QFileInfo(first).absolutePath());
    QVERIFY2(filters.last().contains(QStringLiteral("*.bin")), qPrintable(filters.last()));
    FForm->SetOpenFileDialog({});
    SelectFormat(0);

    // Dropping a file on the window chooses it.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(second)});
    const QPoint where = Get<QWidget>("EditFileName")->mapTo(FForm.get(), QPoint(5, 5));
    QDragEnterEvent enter(where, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(FForm.get(), &enter);
    QCOMPARE(enter.isAccepted(), taken);
    QDropEvent drop(QPointF(where), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(FForm.get(), &drop);
    const QString expected = taken ? second : first;
    QCOMPARE(Get<TsuiEdit>("EditFileName")->text(), expected);
    QCOMPARE(Get<TsuiEdit>("EditFileName")->toolTip(), expected);
    const TImageFormat formats[] = {TImageFormat::IntelExtended, TImageFormat::Binary, TImageFormat::Auto};
    QVERIFY(FForm->FileFormat() == formats[format]);
    QCOMPARE(Get<TsuiRadioGroup>("RadioGroupHexFileFormat")->ItemIndex(), format);
    QCOMPARE(Get<QWidget>("GroupBoxBinaryDataFileParams")->isVisible(), format == 1);

    for (const char* button :
         {"BitBtnComSettings", "BitBtnInit", "BitBtnBrowse", "BitBtnStart", "BitBtnStop"})
        QVERIFY2(!Get<QWidget>(button)->toolTip().isEmpty(), button);
}

int main(int argc, char* argv[]) {
    return RunMainWindowTest<TWindowUsabilityTest>(argc, argv);
}

#include "tst_window_usability.moc"
