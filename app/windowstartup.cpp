#include "app/windowstartup.h"

#include "app/tervolt_mainform.h"
#include "devices/deviceslocation.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

#include <exception>

void ShowStartupError(const QString& message, const QString& detail) {
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), message, QMessageBox::Ok);
    if (!detail.isEmpty())
        box.setInformativeText(detail);
    box.exec();
}

int RunMainWindow(const QString& programDirectory) {
    try {
        // The device list is taken from the program's directory, else from the installed data folder.
        const TDevicesFileLocation devices = LocateDevicesFile(programDirectory);
        if (devices.Path.isEmpty()) {
            ShowStartupError(QStringLiteral("Can't load \"%1\"").arg(kDevicesFileName),
                             devices.NotFoundText());
            return 1;
        }
        TFormTervolt form(QFileInfo(devices.Path).absolutePath());
        form.FormShow();
        QApplication::exec();
        return 0;
    } catch (const ETervoltError& error) {
        ShowStartupError(error.Message(), error.Detail());
    } catch (const std::exception& error) {
        ShowStartupError(QString::fromLocal8Bit(error.what()), QString());
    }
    return 1;
}
