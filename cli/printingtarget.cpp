#include "cli/printingtarget.h"

#include "protocol/commandtext.h"

void TPrintingTarget::Print(QByteArray line) {
    if (line.endsWith(kCommandEnd))
        line.chop(1);
    line.append('\n');
    std::fwrite(line.constData(), 1, size_t(line.size()), FOut);
}

bool TPrintingTarget::ProgramBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t count) {
    Print(ProgramBlockCommand(address, data, count));
    return true;
}

bool TPrintingTarget::VerifyBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t count,
                                  TCompareResult& result) {
    Print(VerifyBlockCommand(address, data, count));
    result.CompareOK = true;
    return true;
}
