#include "tests/support/screenshot.h"

#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QWidget>

#include <cstdio>

QPixmap GrabWindow(QWidget& window) {
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents();
    QScreen* screen = window.screen();
    if (QGuiApplication::platformName() == QLatin1String("xcb") && screen != nullptr)
        return screen->grabWindow(0, window.x(), window.y(), window.width(), window.height());
    return window.grab();
}

bool SaveShot(const QPixmap& shot, const QDir& folder, const QString& name) {
    const QString path = folder.filePath(name);
    if (!shot.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}
