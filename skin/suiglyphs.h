#pragma once
// Pictures of the skin, drawn in code so that they stay sharp at any scale and need no image files:
// the small glyphs on picture buttons and the four message icons (the program's mark: logomark.h).

#include "skin/logomark.h"
#include "skin/suitypes.h"

#include <QPixmap>
#include <QRectF>
#include <QString>

class QPainter;

enum TsuiGlyph : std::uint8_t {
    glNone,
    glCom,
    glInit,
    glBrowse,
    glStart,
    glStop,
    glConnect,
    glDisconnect,
    glCancel,
    glOk,
};

// The glyph that goes with a button word ("Start" -> glStart); case and surrounding blanks are
// ignored, an unknown word has none.
TsuiGlyph GlyphForWord(const QString& word);

// Paints a glyph into the square `box`; disabled glyphs are drawn in a flat pale grey.
void PaintGlyph(QPainter& painter, const QRectF& box, TsuiGlyph glyph, bool enabled);

// Paints a message icon (warning sign, stop sign, information sign, question mark) into `box`.
void PaintMessageIcon(QPainter& painter, const QRectF& box, TsuiIconType type);

// The icon as a transparent picture of sizePx logical pixels; null for suiNone.
QPixmap MessageIconPixmap(TsuiIconType type, int sizePx, qreal devicePixelRatio = 1.0);
