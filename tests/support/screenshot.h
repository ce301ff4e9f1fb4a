#pragma once
// For the screenshot tools: grab a window as a user sees it and save it as PNG.

#include <QPixmap>
#include <QString>

class QDir;
class QWidget;

// From the screen where there is a real one (the frame as drawn), otherwise from the widget.
QPixmap GrabWindow(QWidget& window);
// Saves and prints the path; false (with a message on stderr) when it cannot be written.
bool SaveShot(const QPixmap& shot, const QDir& folder, const QString& name);
