#pragma once
// What the tests that run a simulated board share: starting it, and what its FLASH holds.

#include "sim/simserver.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

using TImage = std::map<std::uint32_t, std::uint8_t>;

// Starts the board; a board that cannot start says why.
inline bool Started(TSimServer& server) {
    std::string error;
    if (server.Start(error))
        return true;
    qWarning("cannot start the simulated board: %s", error.c_str());
    return false;
}

inline TImage ImageOf(const std::vector<std::pair<std::uint32_t, QByteArray>>& records) {
    TImage image;
    for (const auto& [address, data] : records)
        for (qsizetype i = 0; i < data.size(); ++i)
            image[address + std::uint32_t(i)] = std::uint8_t(data.at(i));
    return image;
}

// True when the board holds exactly the image: every image byte programmed with its value, nothing
// else programmed.
inline bool BoardHolds(const TSimServer& server, const TImage& image, QString& why) {
    const TFlashSnapshot snapshot = server.Snapshot();
    std::size_t programmed = 0;
    for (std::size_t address = 0; address < snapshot.Programmed.size(); ++address)
        programmed += snapshot.Programmed[address] ? 1 : 0;
    if (programmed != image.size()) {
        why = QStringLiteral("%1 bytes programmed, image has %2").arg(programmed).arg(image.size());
        return false;
    }
    for (const auto& [address, value] : image) {
        if (address >= snapshot.Flash.size() || !snapshot.Programmed[address] ||
            snapshot.Flash[address] != value) {
            why = QStringLiteral("byte at 0x%1 differs").arg(address, 0, 16);
            return false;
        }
    }
    return true;
}
