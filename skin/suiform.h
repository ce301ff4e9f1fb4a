#pragma once
// TsuiForm: the skinned frame of a frameless top-level window. It draws a deep-blue border and its
// own title bar (control box icon, caption in white bold, minimize, maximize and close buttons), lets
// the user drag the window by the title bar, and leaves the rest of the window as its content area.
//
// Two ways to put a Qt Designer form into it:
//
// 1. Install, after setupUi:
//        ui->setupUi(this);
//        FFrame = TsuiForm::Install(this, tr("COM Settings"), tbControlBox | tbClose);
//    The window becomes frameless and grows by the frame; the frame goes behind the form's widgets.
//    Widgets placed without a layout move down and right by the frame, so their .ui positions count
//    from the top left of the content area; a layout on the window keeps clear of the frame through
//    the window's contents margins.
//
// 2. Promoted widget: in the .ui place a QWidget promoted to TsuiForm (header "skin/suiform.h") at
//    0,0 over the whole window and put the controls inside it. Their positions are then frame
//    coordinates (keep them below kTitleBarHeightPx); a layout set on the frame keeps clear of title
//    bar and border by itself. The frame makes its window frameless when it is created and follows
//    the window's size. Caption and buttons can be set in the .ui as dynamic properties ("Caption",
//    "CloseButtonVisible", ...) or in code.
//
// The title bar's close button closes the window (a QDialog thereby rejects); SetBusy-like code hides
// it at run time with SetCloseButtonVisible(false).

#include "skin/suitypes.h"

#include <QMargins>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QWidget>

class QAbstractButton;

class TsuiForm : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(bool ControlBoxVisible READ ControlBoxVisible WRITE SetControlBoxVisible)
    Q_PROPERTY(bool CloseButtonVisible READ CloseButtonVisible WRITE SetCloseButtonVisible)
    Q_PROPERTY(bool MaximizeButtonVisible READ MaximizeButtonVisible WRITE SetMaximizeButtonVisible)
    Q_PROPERTY(bool MinimizeButtonVisible READ MinimizeButtonVisible WRITE SetMinimizeButtonVisible)

public:
    static constexpr int kTitleBarHeightPx = 30; // including the top border
    static constexpr int kBorderPx = 4;

    // Frames an existing window built by setupUi (see the comment at the top). Returns the frame,
    // which the window owns.
    static TsuiForm* Install(QWidget* window, const QString& caption,
                             TsuiTitleButtons buttons = TsuiTitleButtons(tbControlBox | tbClose));

    explicit TsuiForm(QWidget* parent = nullptr);
    ~TsuiForm() override;

    // Title bar text; while empty the window title is shown. Setting it also sets the window title,
    // which the task bar shows.
    QString Caption() const { return FCaption; }
    void SetCaption(const QString& caption);

    TsuiTitleButtons TitleButtons() const { return FButtons; }
    void SetTitleButtons(TsuiTitleButtons buttons);

    bool ControlBoxVisible() const { return FButtons.testFlag(tbControlBox); }
    void SetControlBoxVisible(bool visible) { SetTitleButton(tbControlBox, visible); }
    bool CloseButtonVisible() const { return FButtons.testFlag(tbClose); }
    void SetCloseButtonVisible(bool visible) { SetTitleButton(tbClose, visible); }
    bool MaximizeButtonVisible() const { return FButtons.testFlag(tbMaximize); }
    void SetMaximizeButtonVisible(bool visible) { SetTitleButton(tbMaximize, visible); }
    bool MinimizeButtonVisible() const { return FButtons.testFlag(tbMinimize); }
    void SetMinimizeButtonVisible(bool visible) { SetTitleButton(tbMinimize, visible); }

    // The title bar's widget for a button (tbControlBox gives the icon), e.g. for tests.
    QWidget* TitleButton(TsuiTitleButton button) const;

    // Border and title bar around the content area.
    static QMargins FrameMargins();
    QRect ContentRect() const;
    QRect TitleBarRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SetTitleButton(TsuiTitleButton button, bool visible);
    void PlaceTitleButtons();
    void FollowWindow();
    void ToggleMaximized();
    QRect CaptionRect() const;

    QString FCaption;
    TsuiTitleButtons FButtons = TsuiTitleButtons(tbControlBox | tbClose);
    QWidget* FControlBox = nullptr;
    QAbstractButton* FCloseButton = nullptr;
    QAbstractButton* FMaximizeButton = nullptr;
    QAbstractButton* FMinimizeButton = nullptr;
    QPointer<QWidget> FWindow; // the window framed, when it is not the frame itself
    bool FDragging = false;
    QPoint FDragOffset;
};
