#include "dialogs/hexfiles_box.h"

#include "dialogs/velummessagebox.h"
#include "image/hexfiles.h"

#include <QApplication>

#include <cstdio>
#include <utility>

namespace {

THexFileErrorHook& ErrorHook() {
    static THexFileErrorHook hook;
    return hook;
}

} // namespace

void SetHexFileErrorHook(THexFileErrorHook hook) {
    ErrorHook() = std::move(hook);
}

void ShowHexFileError(int code, const QString& caption, const QString& detail) {
    const QString text = HexFileErrorMessage(code);
    if (text.isEmpty())
        return;

    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        QApplication::beep();
    if (const THexFileErrorHook& hook = ErrorHook()) {
        hook(text, caption);
        return;
    }
    // Without a widget application no box can be shown; the message must not be lost all the same.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
        if (!detail.isEmpty())
            std::fprintf(stderr, "%s\n", qPrintable(detail));
        return;
    }

    TVelumMessageBox box(DeepBlue);
    box.ShowOneButton(detail.isEmpty() ? text : text + QLatin1Char('\n') + detail, caption, suiStop,
                      QStringLiteral("Ok"), mrOk);
}
