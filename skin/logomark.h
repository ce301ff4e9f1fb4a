#pragma once
// The program's mark, a lightning bolt on a rounded square. One drawing serves the title bars, the
// power-on picture, the window's icon set and the installed desktop icons (PNG and SVG), so that
// they cannot drift apart.

#include <QByteArray>
#include <QIcon>
#include <QImage>
#include <QRectF>

class QPainter;

void PaintLogoMark(QPainter& painter, const QRectF& box);

// The mark on a transparent square of sizePx pixels.
QImage LogoMarkImage(int sizePx);

// The window's icon: the mark at the usual icon sizes.
QIcon LogoMarkIcon();

// The same drawing as a standalone SVG document.
QByteArray LogoMarkSvg();
