#include "sim/simdump.h"

#include "image/hexfiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct TFileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string HexError(const std::string& fileName, THexResult code) {
    return "cannot write " + fileName + ": " + HexFileErrorMessage(code).toStdString() + " (code " +
           std::to_string(code) + ")";
}

} // namespace

bool WriteProgrammedHex(const std::string& fileName, const TFlashSnapshot& board, std::string& error) {
    TIntelExtendedHexFile hex(true); // record 04 above 1 MiB
    THexResult result = hex.Open(QString::fromLocal8Bit(fileName.c_str()), hmWrite, true);
    if (result != hrOK) {
        error = HexError(fileName, result);
        return false;
    }
    const std::size_t size = std::min(board.Flash.size(), board.Programmed.size());
    std::size_t address = 0;
    while (address < size && result == hrOK) {
        if (!board.Programmed[address]) {
            ++address;
            continue;
        }
        std::size_t end = address;
        while (end < size && end - address < kDumpRecordBytes && board.Programmed[end])
            ++end;
        result = hex.WriteBlock(std::uint32_t(address), board.Flash.data() + address,
                                std::uint16_t(end - address));
        address = end;
    }
    const THexResult closed = hex.Close();
    if (result == hrOK)
        result = closed;
    if (result != hrOK) {
        error = HexError(fileName, result);
        return false;
    }
    // The image writer leaves the end record out (our reader does not need it); other tools do.
    std::unique_ptr<std::FILE, TFileCloser> file(std::fopen(fileName.c_str(), "a"));
    const bool ended =
        file && std::fputs(":00000001FF\n", file.get()) >= 0 && std::fclose(file.release()) == 0;
    if (!ended) {
        error = "cannot write " + fileName + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
