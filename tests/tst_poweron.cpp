// The power-on window: its form, its place on the screen, and the two-second hold of ShowPowerOn.

#include "dialogs/poweron.h"
#include "dialogs/poweronpicture.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QTest>

#include <memory>
#include <vector>

namespace {

// Notes whether the window has been painted.
class TPaintRecorder : public QObject {
public:
    explicit TPaintRecorder(QWidget* watched) {
        watched->installEventFilter(this);
        watched->findChild<QLabel*>(QStringLiteral("ImagePowerOn"))->installEventFilter(this);
    }
    bool Painted = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        Painted = Painted || event->type() == QEvent::Paint;
        return false;
    }
};

int Brightness(QRgb pixel) {
    return qRed(pixel) + qGreen(pixel) + qBlue(pixel);
}

} // namespace

class TPowerOnTest : public QObject {
    Q_OBJECT

private slots:
    void FormAsLaidOut();
    void ShowPowerOnHoldsThenHides();
    void OwnedWindowIsStillTopLevelAndCentred();
    void PictureCarriesNameAndWhiteSweep();
};

void TPowerOnTest::FormAsLaidOut() {
    TFormPowerOn form;
    QCOMPARE(form.size(), QSize(404, 404));
    QVERIFY(form.isWindow());
    QVERIFY(form.windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(form.cursor().shape(), Qt::WaitCursor);
    QLabel* image = form.ImagePowerOn();
    QCOMPARE(image->objectName(), QStringLiteral("ImagePowerOn"));
    QCOMPARE(image->geometry(), QRect(1, 1, 402, 403));
    QCOMPARE(image->alignment(), Qt::AlignCenter);
    QCOMPARE(image->pixmap().size(), QSize(kPowerOnPictureSizePx, kPowerOnPictureSizePx));
    QCOMPARE(image->cursor().shape(), Qt::WaitCursor);
}

void TPowerOnTest::ShowPowerOnHoldsThenHides() {
    TFormPowerOn form;
    TPaintRecorder recorder(&form);
    std::vector<unsigned long> holds;
    bool shownWhileHeld = false;
    bool paintedBeforeHold = false;
    form.SetHold([&](unsigned long ms) {
        holds.push_back(ms);
        shownWhileHeld = form.isVisible();
        paintedBeforeHold = recorder.Painted;
    });
    form.ShowPowerOn();

    QCOMPARE(holds, std::vector<unsigned long>{kPowerOnHoldMs});
    QVERIFY2(shownWhileHeld, "the window is shown for the whole hold");
    QVERIFY2(paintedBeforeHold, "the picture must be painted before the hold");
    QVERIFY(!form.isVisible());

    const QRect area = form.screen()->availableGeometry();
    QVERIFY2((form.frameGeometry().center() - area.center()).manhattanLength() <= 2,
             "the window must be centred on the screen");
}

void TPowerOnTest::OwnedWindowIsStillTopLevelAndCentred() {
    auto owner = std::make_unique<QWidget>();
    owner->setGeometry(10, 10, 120, 80);
    const QPointer<TFormPowerOn> form = new TFormPowerOn(owner.get());
    QVERIFY(form->isWindow());
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    const QRect area = form->screen()->availableGeometry();
    QVERIFY2((form->frameGeometry().center() - area.center()).manhattanLength() <= 2,
             "centred on the screen, not on the owner");
    QCOMPARE(form->size(), QSize(404, 404));
    owner.reset(); // the owner takes the window with it
    QVERIFY(form.isNull());
}

void TPowerOnTest::PictureCarriesNameAndWhiteSweep() {
    const QImage picture = RenderPowerOnPicture();
    QCOMPARE(picture.size(), QSize(400, 400));
    QCOMPARE(picture.depth(), 24);
    // White letters at the top left, over a dark blue field.
    int whiteInName = 0;
    for (int y = 40; y < 100; ++y)
        for (int x = 24; x < 200; ++x)
            whiteInName += Brightness(picture.pixel(x, y)) > 3 * 245 ? 1 : 0;
    QVERIFY2(whiteInName > 200, "no white lettering at the top left");
    QVERIFY(qBlue(picture.pixel(5, 395)) > qRed(picture.pixel(5, 395)) + 60);
    // The lower right corner is the white sweep, the upper right is blue.
    QVERIFY(Brightness(picture.pixel(395, 395)) > 3 * 235);
    QVERIFY(Brightness(picture.pixel(395, 20)) < 3 * 150);
}

QTEST_MAIN(TPowerOnTest)
#include "tst_poweron.moc"
