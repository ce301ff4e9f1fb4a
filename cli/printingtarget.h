#pragma once
// A target that prints every block command as it would go on the line, without the CR, and accepts it.

#include "engine/flashengine.h"

#include <cstdio>

class TPrintingTarget : public TFlashTarget {
public:
    explicit TPrintingTarget(std::FILE* out) : FOut(out) {}

    bool InitFlash() override { return true; }
    bool ResetFlash() override { return true; }
    bool ProgramBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t count) override;
    bool VerifyBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t count,
                     TCompareResult& result) override;

private:
    void Print(QByteArray line);
    std::FILE* FOut;
};
