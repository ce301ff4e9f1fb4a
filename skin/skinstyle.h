#pragma once
// The DeepBlue look: one palette used both by the style sheet (deepblue.qss) and by the controls that
// paint themselves, so that drawn and styled parts always agree. Every text colour keeps at least
// 4.5:1 against what it is drawn on, in every state (the button faces measured in their gloss).
//
// A window gets the look from ApplySkin(window); TsuiForm and TsuiMessageDialog do that themselves.
// A program may instead call qApp->setStyleSheet(SkinStyleSheet()) once.

#include "skin/suitypes.h"

#include <QColor>
#include <QFont>
#include <QString>

class QPainter;
class QRectF;
class QScreen;
class QWidget;

// The style sheet lives in a resource that is compiled into an object library; a program linking the
// static library must register it explicitly. SkinStyleSheet() does so itself, so calling this is
// only needed by code that reads ":/skin/..." directly. Safe to call more than once.
void InitSkinResources();

struct TsuiPalette {
    static constexpr QRgb kFrameOuter = 0xFF07183A; // 1 px outline around the whole window
    static constexpr QRgb kFrame = 0xFF14397C;      // border band
    static constexpr QRgb kTitleTop = 0xFF3A6FC6;
    static constexpr QRgb kTitleBottom = 0xFF113878;
    static constexpr QRgb kTitleInactiveTop = 0xFF7390C2;
    static constexpr QRgb kTitleInactiveBottom = 0xFF42629C;
    static constexpr QRgb kTitleText = 0xFFFFFFFF;
    static constexpr QRgb kFace = 0xFFE4ECF8;      // content background
    static constexpr QRgb kFaceShade = 0xFFC8D7EE; // lower end of panel gradients
    static constexpr QRgb kText = 0xFF0D1F3F;
    static constexpr QRgb kTextDisabled = 0xFF4E5A70; // 4.8:1 on the panel's darkest shade
    static constexpr QRgb kAccent = 0xFF1F5FBF;
    static constexpr QRgb kAccentLight = 0xFF6A9FE8;
    static constexpr QRgb kAccentDark = 0xFF0F3677;
    static constexpr QRgb kEdge = 0xFF7E9BCB;      // edit and list borders
    static constexpr QRgb kGroupEdge = 0xFF9DB4DA; // group box borders
    static constexpr QRgb kField = 0xFFFFFFFF;     // edit background
    static constexpr QRgb kFieldReadOnly = 0xFFF1F5FC;
    static constexpr QRgb kButtonTop = 0xFF3B6CBE;
    static constexpr QRgb kButtonBottom = 0xFF163C80;
    static constexpr QRgb kButtonHoverTop = 0xFF4073C8; // hover shows mostly in the glow around
    static constexpr QRgb kButtonHoverBottom = 0xFF1A4490;
    static constexpr QRgb kButtonPressed = 0xFF10306A;
    static constexpr QRgb kButtonDisabledTop = 0xFFD3DAE6;
    static constexpr QRgb kButtonDisabledBottom = 0xFFB9C2D2;
    static constexpr QRgb kButtonText = 0xFFFFFFFF;
    static constexpr QRgb kButtonDisabledText = 0xFF3B4557;
    static constexpr QRgb kFocusRing = 0xFF0F3677;        // 2 px around what has the keyboard, on the face
    static constexpr QRgb kFocusRingOnPlate = 0xFFFFFFFF; // inside the blue button plates
    static constexpr QRgb kGo = 0xFF62E08A;               // Start, OK
    static constexpr QRgb kHalt = 0xFFFF7A70;             // Stop, Cancel
    static constexpr int kFocusRingWidthPx = 2;
    static constexpr QRgb kFolder = 0xFFFFD66B;
};

// The DeepBlue style sheet with the palette filled in. Every style draws as DeepBlue.
QString SkinStyleSheet(TsuiUIStyle style = DeepBlue);

// Gives a top-level window the DeepBlue style sheet, palette and font.
void ApplySkin(QWidget* window, TsuiUIStyle style = DeepBlue);

// Moves a top-level window to the middle of the available area of `screen` (the primary screen when
// it is null).
void CentreOnScreen(QWidget* window, const QScreen* screen);

// The keyboard focus on a blue button plate: a white 2 px ring just inside its edge.
void PaintPlateFocusRing(QPainter& painter, const QRectF& plate, qreal cornerRadius);

// The text font of the skin and the bold font of title bars.
QFont SkinFont();
QFont SkinTitleFont();
