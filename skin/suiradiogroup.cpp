#include "skin/suiradiogroup.h"

#include "skin/suicontrols.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QVBoxLayout>

TsuiRadioGroup::TsuiRadioGroup(QWidget* parent) : QGroupBox(parent) {
    FGroup = new QButtonGroup(this);
    FGroup->setExclusive(true);
    FLayout = new QVBoxLayout(this);
    FLayout->setContentsMargins(10, 6, 10, 6);
    FLayout->setSpacing(4);
    connect(FGroup, &QButtonGroup::idClicked, this, &TsuiRadioGroup::ButtonClicked);
}

void TsuiRadioGroup::SetItems(const QStringList& items) {
    for (QAbstractButton* button : FGroup->buttons()) {
        FGroup->removeButton(button);
        delete button;
    }
    FItems = items;
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new TsuiRadioButton(items.at(i), this);
        button->setObjectName(QStringLiteral("Item%1").arg(i));
        FGroup->addButton(button, i);
        FLayout->addWidget(button);
    }
    const int previous = FItemIndex;
    FItemIndex = previous < items.size() ? previous : -1;
    if (FItemIndex >= 0)
        FGroup->button(FItemIndex)->setChecked(true);
    UpdateTabStop();
    if (FItemIndex != previous)
        emit ItemIndexChanged(FItemIndex);
}

// One Tab stop per group, as people know it: the chosen item (the first while none is), the arrow
// keys move between the items.
void TsuiRadioGroup::UpdateTabStop() {
    const QList<QAbstractButton*> buttons = FGroup->buttons();
    for (QAbstractButton* button : buttons) {
        const int index = FGroup->id(button);
        const bool stop = index == FItemIndex || (FItemIndex < 0 && index == 0);
        button->setFocusPolicy(stop ? Qt::StrongFocus : Qt::ClickFocus);
    }
}

void TsuiRadioGroup::SetItemIndex(int index) {
    index = qBound(-1, index, static_cast<int>(FItems.size()) - 1);
    if (index == FItemIndex)
        return;
    FItemIndex = index;
    if (index < 0) {
        // An exclusive group cannot clear its last checked button.
        FGroup->setExclusive(false);
        for (QAbstractButton* button : FGroup->buttons())
            button->setChecked(false);
        FGroup->setExclusive(true);
    } else {
        FGroup->button(index)->setChecked(true);
    }
    UpdateTabStop();
    emit ItemIndexChanged(index);
}

QRadioButton* TsuiRadioGroup::Button(int index) const {
    return qobject_cast<QRadioButton*>(FGroup->button(index));
}

void TsuiRadioGroup::ButtonClicked(int index) {
    if (index == FItemIndex)
        return;
    FItemIndex = index;
    UpdateTabStop();
    emit ItemIndexChanged(index);
    emit clicked(false);
}
