#pragma once
// The thin skinned controls: stock widgets under a class name of their own, so that the DeepBlue
// style sheet can address them. In Qt Designer promote the stock widget named in each comment to the
// class, header "skin/suicontrols.h".

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPoint>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include <optional>

// From QLineEdit. Use SetReadOnly at run time so the read-only look follows.
class TsuiEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TsuiEdit(QWidget* parent = nullptr) : QLineEdit(parent) {}
    void SetReadOnly(bool readOnly);
};

// From QGroupBox.
class TsuiGroupBox : public QGroupBox {
    Q_OBJECT
public:
    explicit TsuiGroupBox(QWidget* parent = nullptr) : QGroupBox(parent) {}
};

// From QCheckBox. Paints its box in the skin's colours.
class TsuiCheckBox : public QCheckBox {
    Q_OBJECT
public:
    explicit TsuiCheckBox(QWidget* parent = nullptr) : QCheckBox(parent) { setAttribute(Qt::WA_Hover); }
    // Tall enough for the focus ring to pass above and below the text, not over it.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
};

// From QRadioButton (the items of TsuiRadioGroup). Paints its circle in the skin's colours.
class TsuiRadioButton : public QRadioButton {
    Q_OBJECT
public:
    explicit TsuiRadioButton(const QString& text, QWidget* parent = nullptr);
    // Tall enough for the focus ring to pass above and below the text, not over it.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
};

// From QComboBox; a drop-down list unless made editable. Paints its own arrow.
class TsuiComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TsuiComboBox(QWidget* parent = nullptr) : QComboBox(parent) { setMouseTracking(true); }

    // Under the box, even when the window system moved the window without Qt learning where to (the
    // list would open a window's offset away): the pointer over the box has shown where it really is.
    void showPopup() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void NoteTrueOrigin(const QMouseEvent& event);

    // How far the box's true screen position lies from Qt's idea of it, as measured while the window
    // stood where Qt believed it at FShiftWindowPos.
    std::optional<QPoint> FShift;
    QPoint FShiftWindowPos;
};

// From QProgressBar: 0..100 with the percentage written across it, dark on the empty part and
// white on the filled one.
class TsuiProgressBar : public QProgressBar {
    Q_OBJECT
    Q_PROPERTY(bool ShowCaption READ isTextVisible WRITE setTextVisible)
public:
    explicit TsuiProgressBar(QWidget* parent = nullptr);

    // Like setValue, but painted with the next ordinary repaint instead of at once: a transfer sets
    // the bar between an answer and the next command, where a paint would delay the line.
    void SetValueDeferred(int value);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// From QPushButton: a plain text button in the skin's colours with the hand pointer (the buttons of
// the message dialog).
class TsuiButton : public QPushButton {
    Q_OBJECT
public:
    explicit TsuiButton(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
