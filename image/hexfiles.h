#pragma once
// Image readers and writers: Intel HEX and raw binary files, read from a snapshot of the file and
// delivered as address/data blocks (S-record and ELF readers: srecfile.h, elffile.h). Every operation
// returns a result code; nothing throws.

#include <QString>

#include "image/imageformat.h"
#include "image/textlines.h"
#include <cstdint>
#include <cstdio>

#include <memory>
#include <vector>

class TImageBytes;
class TImageSnapshot;

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
    hrBeyondAddressSpace = 11, // an image whose last byte would lie above 0xFFFFFFFF
    hrUnknownFormat = 12,      // auto-detection found no format
    hrNotAsNamed = 13,         // a name that says binary on a whole image of another format
};

// Open modes: 0 and 1 both read (the engine passes 0 for Program and Verify alike), 2 writes.
enum : std::uint8_t { hmProgram = 0, hmVerify = 1, hmWrite = 2 };

// The text of a result code of any image reader or writer (the name is the original design's, from when
// Intel HEX was the only text format); empty for 0. Kept apart from the message box so the core needs
// no widgets.
QString HexFileErrorMessage(int code);

// The base of every image reader and writer, whatever the format: Intel HEX, binary, S-record, ELF and
// auto-detection all derive from it (the name is the original design's). It opens a snapshot, measures
// the image once (ScanImage), then delivers address/data blocks pass after pass, checking that each pass
// delivers what the first measured.
class TAbsoluteHexFile {
public:
    virtual ~TAbsoluteHexFile();
    TAbsoluteHexFile(const TAbsoluteHexFile&) = delete;
    TAbsoluteHexFile& operator=(const TAbsoluteHexFile&) = delete;

    // Reading (Program, Verify) takes a snapshot of the file and measures it; writing opens the file.
    virtual THexResult Open(const QString& fileName, std::uint8_t mode, bool overwrite) = 0;
    // Reads and measures a snapshot taken before, so that every board of a run gets the same bytes.
    virtual THexResult OpenSnapshot(std::shared_ptr<TImageSnapshot> snapshot);
    virtual void Reset() = 0;
    // The pre-scan: validates the whole image and measures it, then starts again at its beginning.
    THexResult Scan();
    // The next block. Once the pre-scan accepted the image, a pass that finds it different (an error,
    // or other blocks from a file too large to hold in memory) ends with hrImageChanged.
    virtual THexResult ReadBlock(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                                 std::uint16_t maxLength);
    virtual THexResult WriteBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t length) = 0;
    virtual THexResult Close();

    std::uint32_t StartAddress() const { return FStartAddress; }
    std::uint32_t TotalSize() const { return FTotalSize; }
    std::uint32_t Position() const { return FPosition; }
    // Bytes the blocks of the whole image carry (a binary size header included), measured by the
    // pre-scan; unlike TotalSize, gaps between records or segments do not count.
    std::uint64_t DataSize() const { return FDataSize; }
    virtual bool IsOpen() const { return FFile != nullptr || FBytes != nullptr; }
    // False for a measured image that has nothing to send: its blocks carry no byte.
    virtual bool HoldsData() const { return FDataSize != 0; }
    // What the last failed Open or ReadBlock adds to its message, on one line: the file name with the
    // system's reason, or with the line of a text image. Empty after a success.
    QString LastFailure() const { return FLastFailure; }
    // What the measure found that the user should hear of although the image is fine; empty for most.
    QString Note() const { return FNote; }
    // What the last failed Open or ReadBlock suggests choosing instead.
    TFormatAdvice Advice() const { return FAdvice; }
    // The format read; for auto-detection the one found by the last Open (Auto before).
    virtual TImageFormat ReadsAs() const = 0;
    // The snapshot being read, for the other boards of the run; nullptr when not open for reading.
    virtual std::shared_ptr<TImageSnapshot> Snapshot() const;

protected:
    TAbsoluteHexFile();

    // The common part of Open: the checks, Reset, the snapshot or the output file, and the pre-scan.
    THexResult OpenStream(const QString& fileName, std::uint8_t mode, bool overwrite, bool binary);
    virtual THexResult ScanImage() = 0;
    // The pre-scan of a record format: reads every block once, so that ReadBlock validates and measures
    // the image; `firstAddress` gets the address of the first block that carries a byte (all ones
    // without one). hrOK at the end of the image. The caller then starts again at the beginning.
    THexResult ReadEveryBlock(std::uint32_t& firstAddress);
    // For a reader whose pre-scan need not read the data: reads every block once, so that a file too
    // large for memory is measured (see ReadBlock). The caller then starts again at the beginning.
    THexResult MeasureStreamedBlocks();
    virtual THexResult ReadNext(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                                std::uint16_t maxLength) = 0;

    struct TFileCloser {
        void operator()(std::FILE* f) const;
    };
    std::unique_ptr<std::FILE, TFileCloser> FFile; // writing
    std::unique_ptr<TImageBytes> FBytes;           // reading
    std::uint32_t FStartAddress = 0;
    std::uint32_t FTotalSize = 0;
    std::uint64_t FDataSize = 0;
    std::uint32_t FPosition = 0;
    QString FFileName;
    QString FLastFailure;
    TFormatAdvice FAdvice = TFormatAdvice::None;
    QString FNote;

private:
    bool FWriting = false;  // a failed flush on Close must not go unnoticed
    bool FMeasured = false; // the pre-scan accepted the image
    std::uint64_t FFingerprint = 0;
    std::uint64_t FMeasuredFingerprint = 0;
    std::uint64_t FNextAddress = 0; // where a block that continues the last one begins
};

// Intel HEX. The strict reader ("hex") takes records 00..03 on lines of at most 198 characters; with
// `linearRecords` ("ihex") it also takes 04 (upper 16 address bits) and 05 (start address, ignored)
// and records of up to 255 bytes, delivered in pieces of at most the caller's block length; its
// writer uses record 04 for data above 1 MiB.
class TIntelExtendedHexFile final : public TAbsoluteHexFile {
public:
    explicit TIntelExtendedHexFile(bool linearRecords = false);

    THexResult Open(const QString& fileName, std::uint8_t mode, bool overwrite) override;
    void Reset() override;
    THexResult WriteBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t length) override;

    // CS * 16 + IP of the last start segment record; all ones when there was none.
    std::uint32_t EntryAddress() const { return FEntryAddress; }
    TImageFormat ReadsAs() const override {
        return FLinearRecords ? TImageFormat::IntelHex : TImageFormat::IntelExtended;
    }

protected:
    THexResult ScanImage() override;
    THexResult ReadNext(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                        std::uint16_t maxLength) override;

private:
    THexResult ReadRecords(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                           std::uint16_t maxLength);
    // Why a piece is not a line: hrIllegalRecord, with the rule it breaks when there is one.
    THexResult LineRefused(TLineRead read, int maxPiece);
    // The record on `line` into `record`, when it keeps the rules every record type shares.
    THexResult DecodeChecked(const char* line, int lineLength, std::uint8_t* record);
    // One record line, taken by its type; hrOK with no bytes for a record without data.
    THexResult TakeRecord(const char* line, int lineLength, int maxPiece, std::uint32_t& address,
                          std::uint8_t* buffer, std::uint16_t& length, std::uint16_t maxLength);
    THexResult ParseDataRecord(const std::uint8_t* record, std::uint32_t& address, std::uint8_t* buffer,
                               std::uint16_t& length, std::uint16_t maxLength);
    // The rule a record breaks, for the detail: hrIllegalRecord.
    THexResult Illegal(QString rule);
    // After an end record: the end of the image, unless data records follow.
    THexResult ReadPastEnd(int maxPiece);
    void Rewind();
    THexResult WriteLinearBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t length);
    bool WriteRecord(std::uint8_t type, std::uint16_t offset, const std::uint8_t* data, std::uint8_t count);

    bool FLinearRecords = false;
    bool FLinearRefused = false; // the strict reader stopped at a record 04 or 05
    std::uint32_t FEntryAddress = 0xFFFFFFFFu;
    std::uint32_t FSegmentBase = 0;
    std::uint32_t FLastAddress = 0;
    std::uint64_t FDataEnd = 0;             // past the last byte any data record held
    QString FProblem;                       // the rule the last refused record broke
    std::uint32_t FLineNumber = 0;          // the line the last piece belongs to
    std::uint32_t FWritePage = 0xFFFFFFFFu; // upper address bits of the last record 04 written
    TLineCursor FCursor;
    TRecordRest FRest;
};

// A reader of a format that is never written here (S-record, ELF, auto-detection).
class TReadOnlyImageFile : public TAbsoluteHexFile {
public:
    THexResult Open(const QString& fileName, std::uint8_t mode, bool overwrite) override;
    THexResult WriteBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t length) override;
};

class TBinaryDataHexFile final : public TAbsoluteHexFile {
public:
    TBinaryDataHexFile(std::uint32_t startAddress, bool writeSizeHeader);

    THexResult Open(const QString& fileName, std::uint8_t mode, bool overwrite) override;
    void Reset() override;
    THexResult WriteBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t length) override;
    // An empty file holds nothing, even though its size header would count as data.
    bool HoldsData() const override { return FTotalSize != 0; }

    bool WriteSizeHeader() const { return FWriteSizeHeader; }
    TImageFormat ReadsAs() const override { return TImageFormat::Binary; }

protected:
    THexResult ScanImage() override;
    THexResult ReadNext(std::uint32_t& address, std::uint8_t* buffer, std::uint16_t& length,
                        std::uint16_t maxLength) override;

private:
    bool FWriteSizeHeader = false;
    bool FAtEnd = false; // a read met the end of the file: the next one reports it
};
