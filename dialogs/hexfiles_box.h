#pragma once
// Shows an image result code to the user in the skinned message box, as every other message.

#include <QString>

#include <functional>

// Code 0 shows nothing. Any other code beeps, then shows its message modally with the stop icon,
// `caption` as the title and only an OK button, and returns when the user closes it. `detail`
// (the file name and the system's reason, or the line) stands below the message, which stays exact.
void ShowHexFileError(int code, const QString& caption, const QString& detail = {});

// For tests only: while set, the hook receives the message and caption instead of the box being
// shown, so that a test can observe the call without a modal loop. Pass an empty hook to reset.
using THexFileErrorHook = std::function<void(const QString& text, const QString& caption)>;
void SetHexFileErrorHook(THexFileErrorHook hook);
