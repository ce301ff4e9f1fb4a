// The window program: builds the main window, which builds everything else, and runs the message
// loop. A failed start-up is shown in the standard error box and ends the program.

#include "app/tervolt_mainform.h"
#include "files/systemfiles.h"

#include <QApplication>
#include <QMessageBox>

#include <exception>
#include <memory>

namespace {

void ShowStartupError(const QString& message, const QString& detail) {
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), message, QMessageBox::Ok);
    if (!detail.isEmpty())
        box.setInformativeText(detail);
    box.exec();
}

} // namespace

int main(int argc, char* argv[]) {
    EnsureStandardDescriptors(); // the serial port must never become descriptor 1 or 2
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("VELUM"));
    QCoreApplication::setApplicationName(QStringLiteral("Tervolt"));

    try {
        // The program directory is where the executable lies; no argument is interpreted.
        TFormTervolt form(QCoreApplication::applicationDirPath());
        form.FormShow();
        application.exec();
    } catch (const ETervoltError& error) {
        ShowStartupError(error.Message(), error.Detail());
    } catch (const std::exception& error) {
        ShowStartupError(QString::fromLocal8Bit(error.what()), QString());
    }
    return 0;
}
