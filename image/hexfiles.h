#pragma once
// Image readers and writers: Intel HEX (record types 00..03) and raw binary files, streamed as
// address/data blocks. Every operation returns a result code; nothing throws.

#include <QString>

#include <cstdint>
#include <cstdio>
#include <memory>

using THexResult = std::uint8_t;

// Result codes shared by every reader and writer.
enum : THexResult {
    hrOK = 0,
    hrFileNotOpened = 1,
    hrFileAlreadyOpen = 2,
    hrCannotOpenFile = 3,
    hrFileAlreadyExists = 4,
    hrEndOfFile = 5,
    hrIllegalRecord = 6,
    hrBufferTooSmall = 7,
    hrNonAscending = 8,
    hrEraseFailed = 9,
    hrImageChanged = 10,       // the second pass did not deliver what the pre-scan measured
    hrBeyondAddressSpace = 11, // a binary image whose last byte would lie above 0xFFFFFFFF
};

// Open modes: 0 and 1 read (Program and Verify pass them), 2 writes.
enum : std::uint8_t { hmProgram = 0, hmVerify = 1, hmWrite = 2 };

// The text of a result code; empty for 0. Kept apart from the message box so the core needs no widgets.
QString HexFileErrorMessage(int code);

class TAbsoluteHexFile {
public:
    virtual ~TAbsoluteHexFile();
    TAbsoluteHexFile(const TAbsoluteHexFile&) = delete;
    TAbsoluteHexFile& operator=(const TAbsoluteHexFile&) = delete;

    virtual THexResult Open(const QString& fileName, std::uint8_t mode, bool overwrite) = 0;
    virtual void Reset() = 0;
    virtual THexResult Scan() = 0;
    virtual THexResult ReadBlock(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                                 std::uint16_t maxLength) = 0;
    virtual THexResult WriteBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t length) = 0;
    THexResult Close();

    std::uint32_t StartAddress() const { return FStartAddress; }
    std::uint32_t TotalSize() const { return FTotalSize; }
    std::uint32_t Position() const { return FPosition; }
    // Bytes the blocks of the whole image carry (a binary size header included), measured by the
    // pre-scan; unlike TotalSize, gaps between Intel HEX records do not count.
    std::uint64_t DataSize() const { return FDataSize; }
    bool IsOpen() const { return FFile != nullptr; }
    // What the last failed Open or ReadBlock adds to its message, on one line: the file name with the
    // system's reason, or with the line of an Intel HEX file. Empty after a success.
    QString ErrorDetail() const { return FErrorDetail; }

protected:
    TAbsoluteHexFile() = default;

    // The common part of Open: the checks, Reset, the stream modes and the pre-scan.
    THexResult OpenStream(const QString& fileName, std::uint8_t mode, bool overwrite, bool binary);

    struct TFileCloser {
        void operator()(std::FILE* f) const;
    };
    std::unique_ptr<std::FILE, TFileCloser> FFile;
    std::uint32_t FStartAddress = 0;
    std::uint32_t FTotalSize = 0;
    std::uint32_t FPosition = 0;
    std::uint64_t FDataSize = 0;
    QString FFileName;
    QString FErrorDetail;

private:
    bool FWriting = false; // a failed flush on Close must not go unnoticed
};

class TIntelExtendedHexFile final : public TAbsoluteHexFile {
public:
    TIntelExtendedHexFile() = default;

    THexResult Open(const QString& fileName, std::uint8_t mode, bool overwrite) override;
    void Reset() override;
    THexResult Scan() override;
    THexResult ReadBlock(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                         std::uint16_t maxLength) override;
    THexResult WriteBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t length) override;

    // CS * 16 + IP of the last start segment record; all ones when there was none.
    std::uint32_t EntryAddress() const { return FEntryAddress; }

private:
    THexResult ReadRecords(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                           std::uint16_t maxLength);
    THexResult ParseDataRecord(const std::uint8_t* record, std::uint32_t& address, std::uint8_t* buffer,
                               std::uint16_t& length, std::uint16_t maxLength);
    bool WriteRecord(std::uint8_t type, std::uint16_t offset, const std::uint8_t* data, std::uint8_t count);

    std::uint32_t FEntryAddress = 0xFFFFFFFFu;
    std::uint32_t FSegmentBase = 0;
    std::uint32_t FLastAddress = 0;
    std::uint32_t FLinesEnded = 0; // line ends read so far
    std::uint32_t FLineNumber = 0; // the line the last piece belongs to
};

class TBinaryDataHexFile final : public TAbsoluteHexFile {
public:
    TBinaryDataHexFile(std::uint32_t startAddress, bool writeSizeHeader);

    THexResult Open(const QString& fileName, std::uint8_t mode, bool overwrite) override;
    void Reset() override;
    THexResult Scan() override;
    THexResult ReadBlock(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                         std::uint16_t maxLength) override;
    THexResult WriteBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t length) override;

    bool WriteSizeHeader() const { return FWriteSizeHeader; }

private:
    bool FWriteSizeHeader = false;
};
