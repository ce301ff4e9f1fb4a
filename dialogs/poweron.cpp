#include "dialogs/poweron.h"

#include "dialogs/poweronpicture.h"
#include "ui_poweron.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>

namespace {
constexpr QRgb kButtonFaceRgb = 0xFFF0F0F0; // the system's button face behind the picture
}

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
    QCoreApplication::processEvents(); // once, so that the picture is painted before the wait
    QThread::msleep(kPowerOnHoldMs);
    hide();
}
