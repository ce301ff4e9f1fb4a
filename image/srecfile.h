#pragma once
// Motorola S-record images (.s19, .s28, .s37, .mot, .srec): S1/S2/S3 data with 16/24/32-bit
// addresses; S0 (header) ignored; S5/S6 (record count) checked; S7/S8/S9 end the image.

#include "image/hexfiles.h"

class TSRecordFile final : public TAbsoluteHexFile {
public:
    TSRecordFile() = default;

    THexResult Open(const QString& fileName, std::uint8_t mode, bool overwrite) override;
    void Reset() override;
    // Reading only.
    THexResult WriteBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t length) override;

protected:
    THexResult ScanImage() override;
    THexResult ReadNext(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                        std::uint16_t maxLength) override;

private:
    THexResult ReadRecords(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                           std::uint16_t maxLength);
    THexResult TakeDataRecord(std::uint32_t recordAddress, const std::uint8_t* data, int count);
    bool DeliverPending(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                        std::uint16_t maxLength);
    void Rewind();

    TLineCursor FCursor;
    bool FEnded = false;             // an S7/S8/S9 record was read
    std::uint32_t FLineNumber = 0;   // the line the last piece belongs to
    std::uint32_t FDataRecords = 0;  // S1/S2/S3 records so far, for S5/S6
    std::uint64_t FNextAddress = 0;  // the first address a following record may use
    QString FProblem;                // what was wrong with the line, for the detail
    std::vector<std::uint8_t> FPendingData;
    std::size_t FPendingOffset = 0;
    std::uint32_t FPendingAddress = 0;
};
