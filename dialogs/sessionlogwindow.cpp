#include "dialogs/sessionlogwindow.h"

#include "dialogs/velummessagebox.h"
#include "files/systemfiles.h"
#include "skin/suicontrols.h"
#include "skin/suiform.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QVBoxLayout>

namespace {

constexpr int kWidthPx = 640;
constexpr int kHeightPx = 420;

// Writes `text` whole to a new file renamed over `fileName`; the system's reason when anything failed.
QString WriteText(const QString& fileName, const QByteArray& text) {
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        return file.errorString();
    return QString();
}

} // namespace

TFormSessionLog::TFormSessionLog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormSessionLog"));
    setWindowTitle(QStringLiteral("Tervolt - Log"));
    FText = new QPlainTextEdit(this);
    FText->setObjectName(QStringLiteral("EditLog"));
    FText->setReadOnly(true);
    // Long lines (an image's path) wrap at the edge, anywhere when a word is wider than it.
    FText->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    FText->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    auto* save = new TsuiButton(this);
    save->setObjectName(QStringLiteral("ButtonSave"));
    save->setText(QStringLiteral("&Save…"));
    auto* close = new TsuiButton(this);
    close->setObjectName(QStringLiteral("ButtonClose"));
    close->setText(QStringLiteral("Close"));
    close->setDefault(true);
    connect(save, &QPushButton::clicked, this, [this] { Save(); });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(save);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(FText);
    layout->addLayout(buttons);
    TsuiForm::Install(this, windowTitle(), TsuiTitleButtons(tbControlBox | tbClose));
    // After the skin's font: the trace's columns line up only in a font of one width.
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setStyleHint(QFont::TypeWriter);
    fixed.setFixedPitch(true);
    FText->setFont(fixed);
    resize(kWidthPx, kHeightPx);
}

void TFormSessionLog::SetText(const QString& text) {
    FText->setPlainText(text);
    FText->moveCursor(QTextCursor::Start); // the runs first; the trace follows
}

QString TFormSessionLog::Text() const {
    return FText->toPlainText();
}

bool TFormSessionLog::Save() {
    const QString fileName = FSaveFileDialog
                                 ? FSaveFileDialog(this)
                                 : QFileDialog::getSaveFileName(this, QStringLiteral("Save the log"),
                                                                QStringLiteral("tervolt-log.txt"),
                                                                QStringLiteral("Text files (*.txt)"));
    if (fileName.isEmpty())
        return false;
    QString problem;
    const QFileInfo target(fileName);
    if (const QString what = OutputRefusal(fileName, FTaken); !what.isEmpty())
        problem = QStringLiteral("it is %1").arg(what);
    else if (target.exists() && !target.isFile())
        problem = QStringLiteral("not a regular file");
    else
        problem = WriteText(fileName, Text().toUtf8());
    if (problem.isEmpty())
        return true;
    TVelumMessageBox box(DeepBlue);
    box.ShowOneButton(QStringLiteral("The log could not be saved.\n%1: %2").arg(fileName, problem),
                      QStringLiteral("Tervolt Error"), suiStop, QStringLiteral("Ok"), mrOk);
    return false;
}
