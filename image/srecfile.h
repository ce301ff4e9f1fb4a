#pragma once
// Motorola S-record images (.s19, .s28, .s37, .mot, .srec): S1/S2/S3 data with 16/24/32-bit
// addresses; S0 (header) ignored; S5/S6 (record count) checked; S7/S8/S9 end the image (records after
// them are refused, other text after them is ignored).

#include "image/hexfiles.h"

#include <optional>

class TSRecordFile final : public TReadOnlyImageFile {
public:
    TSRecordFile() = default;

    void Reset() override;
    TImageFormat ReadsAs() const override { return TImageFormat::SRecord; }

protected:
    THexResult ScanImage() override;
    THexResult ReadNext(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                        std::uint16_t maxLength) override;

private:
    THexResult ReadRecords(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                           std::uint16_t maxLength);
    // The record on `line` into `record`, with its type, when it is a whole S-record.
    THexResult DecodeChecked(const char* line, int lineLength, std::uint8_t* record, int& type);
    // One record line, taken by its type: the result of the call, or nullopt to read on.
    std::optional<THexResult> TakeRecord(const char* line, int lineLength, std::uint32_t& address,
                                         std::uint8_t* buffer, std::uint16_t& length,
                                         std::uint16_t maxLength);
    THexResult DeliverRest(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                           std::uint16_t maxLength);
    THexResult TakeDataRecord(std::uint32_t recordAddress, const std::uint8_t* data, int count);
    // After an end record: the end of the image, unless more records follow.
    THexResult ReadPastEnd();
    void Rewind();

    TLineCursor FCursor;
    bool FEnded = false;            // an S7/S8/S9 record was read
    std::uint32_t FLineNumber = 0;  // the line the last piece belongs to
    std::uint32_t FDataRecords = 0; // S1/S2/S3 records so far, for S5/S6
    std::uint64_t FNextAddress = 0; // the first address a following record may use
    QString FProblem;               // what was wrong with the line, for the detail
    TRecordRest FRest;
};
