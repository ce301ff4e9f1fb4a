#pragma once
// The power-on picture: program name and version over a field of pale-blue squares, and the
// maker's mark and slogan in a white sweep at the lower right. Drawn in code, 400 x 400, 24-bit.

#include <QImage>

constexpr int kPowerOnPictureSizePx = 400;

QImage RenderPowerOnPicture();
