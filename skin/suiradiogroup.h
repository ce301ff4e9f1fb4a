#pragma once
// TsuiRadioGroup: a captioned group of radio buttons built from a list of items, one of which is
// selected (ItemIndex; -1 for none).
//
// In Qt Designer: a QGroupBox promoted to TsuiRadioGroup (header "skin/suiradiogroup.h"); its title is
// the caption, and "Items" (string list) and "ItemIndex" (int) are set as dynamic properties or in
// code. The inherited clicked() signal is emitted when the user picks another item, never when the
// index is set in code; ItemIndexChanged(int) follows every change. Tab reaches the chosen item only.

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;
class QVBoxLayout;

class TsuiRadioGroup : public QGroupBox {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(QStringList Items READ Items WRITE SetItems)
    Q_PROPERTY(int ItemIndex READ ItemIndex WRITE SetItemIndex NOTIFY ItemIndexChanged)

public:
    explicit TsuiRadioGroup(QWidget* parent = nullptr);

    QString Caption() const { return title(); }
    void SetCaption(const QString& caption) { setTitle(caption); }

    QStringList Items() const { return FItems; }
    // Replaces the buttons; the selection is kept when its index still exists.
    void SetItems(const QStringList& items);

    int ItemIndex() const { return FItemIndex; }
    // Values below -1 select nothing, values past the last item select the last one.
    void SetItemIndex(int index);

    QRadioButton* Button(int index) const;

signals:
    void ItemIndexChanged(int index);

private:
    void ButtonClicked(int index);
    void UpdateTabStop();

    QStringList FItems;
    int FItemIndex = -1;
    QButtonGroup* FGroup = nullptr;
    QVBoxLayout* FLayout = nullptr;
};
