#pragma once
// TsuiImageButton: a picture button. Its face is a small glyph and a word on a deep-blue plate, in
// three looks: normal, under the pointer and disabled (plus a pressed one). The word is the button's
// text, and the glyph follows from it: Com, Init, Browse, Start, Stop, Connect, Disconnect, Cancel and
// OK have one (see GlyphForWord); any other word is shown alone.
//
// In Qt Designer: a QPushButton promoted to TsuiImageButton (header "skin/suiimagebutton.h") whose
// text is the word. A ModalResult other than mrNone closes the button's QDialog with that result
// when it is clicked, right after clicked() has been delivered to the slots connected before it.

#include "skin/modalresult.h"

#include <QPixmap>
#include <QPushButton>

enum TsuiFaceState : std::uint8_t { fsNormal, fsHot, fsDisabled, fsPressed };

class TsuiImageButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(int ModalResult READ ModalResult WRITE SetModalResult)

public:
    explicit TsuiImageButton(QWidget* parent = nullptr);
    explicit TsuiImageButton(const QString& word, QWidget* parent = nullptr);

    TModalResult ModalResult() const { return FModalResult; }
    void SetModalResult(TModalResult result) { FModalResult = result; }

    // The face for a state at the button's present size, e.g. for a preview.
    QPixmap Face(TsuiFaceState state) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The pointer moved over the button (mouse tracking is on).
    void MouseMoved();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    TsuiFaceState CurrentState() const;
    void PaintFace(QPainter& painter, const QRectF& box, TsuiFaceState state, bool focused) const;
    void ApplyModalResult();

    TModalResult FModalResult = mrNone;
};
