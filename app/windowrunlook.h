#pragma once
// The run's look on the main window: Stop in place of Start, the pass named, the block address, one
// bar and the title over all passes of a Start; and the look between runs.

#include <QString>

namespace Ui {
class FormTervolt;
}

// The image was accepted and a pass's transfer begins; Space then stops, as a click would.
void ShowRunLook(Ui::FormTervolt& ui, bool verify, int percent);
// On the bar (painted with the next repaint) and in the title alike.
void ShowRunPercentLook(Ui::FormTervolt& ui, int percent);
void ClearRunLabels(Ui::FormTervolt& ui);
// After the run: the labels cleared, `title` back, Start in place of Stop.
void ShowIdleLook(Ui::FormTervolt& ui, const QString& title);
