#pragma once
// TsuiWrapLabel: plain text wrapped to the label's width, at word boundaries where it can and inside
// a word that is wider than a whole line. The text is never read as markup; "\n" starts a new line.

#include <QString>
#include <QWidget>

class TsuiWrapLabel : public QWidget {
    Q_OBJECT

public:
    explicit TsuiWrapLabel(QWidget* parent = nullptr);

    QString Text() const { return FText; }
    void SetText(const QString& text);

    // What the text takes at a given width: lines, height in pixels, and the widest line.
    int LineCount(int width) const;
    int TextHeight(int width) const;
    qreal WidestLine(int width) const;
    int LineCount() const { return LineCount(width()); }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return TextHeight(width); }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString FText;
    QString FLaidText; // FText with its line breaks as the layout engine wants them
};
