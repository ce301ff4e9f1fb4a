#include "dialogs/hexfiles_box.h"

#include "image/hexfiles.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

#include <cstdio>
#include <utility>

namespace {

// Room the window manager takes in a title bar besides the title: icon and buttons.
constexpr int kTitleChromePx = 160;

// The system box sizes itself by its text alone; a short message would cut the title ("Terv... Error").
void WidenForTitle(QMessageBox& box, const QString& caption) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (grid == nullptr)
        return;
    QFont titleFont = box.font();
    titleFont.setBold(true);
    const int wanted = QFontMetrics(titleFont).horizontalAdvance(caption) * 5 / 4 + kTitleChromePx;
    grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Fixed, QSizePolicy::Minimum), grid->rowCount(), 0,
                  1, grid->columnCount());
}

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

    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::Ok);
    box.setInformativeText(detail);
    WidenForTitle(box, caption);
    box.exec();
}
