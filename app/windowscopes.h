#pragma once
// Scopes the main window holds while it talks to the board or runs: each undoes what it did when it ends.

#include <QList>
#include <QPair>
#include <QWidget>

// Marks an identification exchange as running for as long as it waits for the board.
class TTalkScope {
public:
    explicit TTalkScope(bool& talking) : FTalking(talking) { FTalking = true; }
    ~TTalkScope() { FTalking = false; }
    TTalkScope(const TTalkScope&) = delete;
    TTalkScope& operator=(const TTalkScope&) = delete;

private:
    bool& FTalking;
};

// Disables widgets for as long as it lives and gives each back the state it had.
class TDisabledScope {
public:
    explicit TDisabledScope(const QList<QWidget*>& widgets) {
        for (QWidget* widget : widgets) {
            FStates.append({widget, widget->isEnabled()});
            widget->setEnabled(false);
        }
    }
    ~TDisabledScope() {
        for (const auto& [widget, enabled] : FStates)
            widget->setEnabled(enabled);
    }
    TDisabledScope(const TDisabledScope&) = delete;
    TDisabledScope& operator=(const TDisabledScope&) = delete;

private:
    QList<QPair<QWidget*, bool>> FStates;
};
