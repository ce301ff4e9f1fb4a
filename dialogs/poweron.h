#pragma once
// TFormPowerOn: the borderless picture window shown once, for two seconds, while the main window is
// being built. Layout in forms/poweron.ui; the picture is drawn by RenderPowerOnPicture.

#include <QThread>
#include <QWidget>

#include <functional>
#include <memory>
#include <utility>

class QLabel;

namespace Ui {
class FormPowerOn;
}

// How long ShowPowerOn holds the start-up.
constexpr unsigned long kPowerOnHoldMs = 2000;

class TFormPowerOn : public QWidget {
    Q_OBJECT

public:
    // The owner (the main window) keeps the window alive; it is a top-level window all the same.
    explicit TFormPowerOn(QWidget* owner = nullptr);
    ~TFormPowerOn() override;

    // Shows the window, lets it paint, holds the thread for kPowerOnHoldMs (nothing else runs
    // meanwhile, by design) and hides it again.
    virtual void ShowPowerOn();
    // What holds the thread (by default a sleep); the tests give one that only notes the call.
    using THold = std::function<void(unsigned long ms)>;
    void SetHold(THold hold) { FHold = std::move(hold); }

    QLabel* ImagePowerOn() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::FormPowerOn> FUi;
    THold FHold = [](unsigned long ms) { QThread::msleep(ms); };
};
