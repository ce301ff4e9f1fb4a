#pragma once
// TsuiImagePanel: the decorative background a window's controls lie on, painted in code (a soft
// blue gradient with a wide light sweep and a faint grid of dots).
//
// In Qt Designer: a QWidget (or QFrame) promoted to TsuiImagePanel, header "skin/suiimagepanel.h".

#include <QPixmap>
#include <QWidget>

class QPainter;

class TsuiImagePanel : public QWidget {
    Q_OBJECT

public:
    explicit TsuiImagePanel(QWidget* parent = nullptr);

signals:
    // The pointer moved over the panel itself (not over one of its controls).
    void MouseMoved();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void PaintBackground(QPainter& painter) const;

    QPixmap FBackground; // the picture at the present size and pixel ratio
};
