#include "dialogs/poweron.h"

#include "dialogs/poweronpicture.h"
#include "ui_poweron.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWindow>

namespace {
constexpr QRgb kButtonFaceRgb = 0xFFF0F0F0;   // the system's button face behind the picture
constexpr int kPowerOnExposeTimeoutMs = 1000; // how long the window manager may take to map it
constexpr int kExposePollMs = 20;
} // namespace

TFormPowerOn::TFormPowerOn(QWidget* owner)
    : QWidget(owner, Qt::SplashScreen | Qt::FramelessWindowHint), FUi(std::make_unique<Ui::FormPowerOn>()) {
    FUi->setupUi(this);
    QPalette background = palette();
    background.setColor(QPalette::Window, QColor(kButtonFaceRgb));
    setPalette(background);
    setAutoFillBackground(true);
    FUi->ImagePowerOn->setPixmap(QPixmap::fromImage(RenderPowerOnPicture()));
}

TFormPowerOn::~TFormPowerOn() = default;

QLabel* TFormPowerOn::ImagePowerOn() const {
    return FUi->ImagePowerOn;
}

void TFormPowerOn::showEvent(QShowEvent* event) {
    // Centred on the screen the owner is on, or on the primary screen.
    const QScreen* target =
        parentWidget() != nullptr ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (target != nullptr) {
        const QRect area = target->availableGeometry();
        move(area.left() + (area.width() - width()) / 2, area.top() + (area.height() - height()) / 2);
    }
    QWidget::showEvent(event);
}

void TFormPowerOn::ShowPowerOn() {
    show();
    raise();
    // A window manager maps the window some time after show(); one pass of the event loop may come
    // too early, and then the picture would only be painted after the wait. So wait (bounded) until
    // the window is on screen, paint it now and hand it to the display before holding the thread.
    QDeadlineTimer deadline(kPowerOnExposeTimeoutMs);
    QTimer wakeUp;
    wakeUp.start(kExposePollMs);
    while (!(windowHandle() != nullptr && windowHandle()->isExposed()) && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    wakeUp.stop();
    repaint();
    QGuiApplication::sync();
    FHold(kPowerOnHoldMs);
    hide();
}
