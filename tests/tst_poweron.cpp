// The power-on window: its form, its place on the screen, and the two-second hold of ShowPowerOn.

#include "dialogs/poweron.h"
#include "dialogs/poweronpicture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QTest>

#include <memory>
#include <optional>

namespace {

// Records when the window was shown, painted and hidden, on the clock started at construction.
class TShowRecorder : public QObject {
public:
    explicit TShowRecorder(QWidget* watched) {
        FClock.start();
        watched->installEventFilter(this);
        watched->findChild<QLabel*>(QStringLiteral("ImagePowerOn"))->installEventFilter(this);
    }
    std::optional<qint64> ShownAtMs;
    std::optional<qint64> PaintedAtMs;
    std::optional<qint64> HiddenAtMs;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        const qint64 now = FClock.elapsed();
        if (event->type() == QEvent::Show && !ShownAtMs)
            ShownAtMs = now;
        else if (event->type() == QEvent::Paint && !PaintedAtMs)
            PaintedAtMs = now;
        else if (event->type() == QEvent::Hide && !HiddenAtMs)
            HiddenAtMs = now;
        return false;
    }

private:
    QElapsedTimer FClock;
};

// The wait may not be shorter than asked; the margin only absorbs clock granularity.
constexpr qint64 kHoldLowerBoundMs = static_cast<qint64>(kPowerOnHoldMs) - 20;

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
    TShowRecorder recorder(&form);
    QElapsedTimer clock;
    clock.start();
    form.ShowPowerOn();
    const qint64 tookMs = clock.elapsed();

    QVERIFY(!form.isVisible());
    QVERIFY(recorder.ShownAtMs && recorder.HiddenAtMs);
    QVERIFY2(*recorder.HiddenAtMs - *recorder.ShownAtMs >= kHoldLowerBoundMs,
             qPrintable(QStringLiteral("shown for %1 ms").arg(*recorder.HiddenAtMs - *recorder.ShownAtMs)));
    QVERIFY(tookMs >= kHoldLowerBoundMs);
    QVERIFY2(recorder.PaintedAtMs.has_value(), "the picture must be painted before the hold");
    QVERIFY2(*recorder.HiddenAtMs - *recorder.PaintedAtMs >= kHoldLowerBoundMs,
             "painted only after the hold");

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
