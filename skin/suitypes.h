#pragma once
// Enumerations shared by the skinned controls and their users.

#include <QFlags>

#include <cstdint>

// The picture a message dialog shows left of its text.
enum TsuiIconType : std::uint8_t {
    suiNone = 0,
    suiWarning = 1,
    suiStop = 2,
    suiInformation = 3,
    suiHelp = 4,
};

// Skin styles a control may be asked for. Only DeepBlue is drawn; the others are accepted, kept and
// drawn as DeepBlue, so a window never ends up half skinned.
enum TsuiUIStyle : std::uint8_t {
    Custom = 0,
    MacOS = 1,
    WinXP = 2,
    DeepBlue = 3,
    Protein = 4,
    BlueGlass = 5,
};

// Buttons of the skinned title bar.
enum TsuiTitleButton : unsigned {
    tbControlBox = 0x1,
    tbClose = 0x2,
    tbMaximize = 0x4,
    tbMinimize = 0x8,
};
Q_DECLARE_FLAGS(TsuiTitleButtons, TsuiTitleButton)
Q_DECLARE_OPERATORS_FOR_FLAGS(TsuiTitleButtons)
