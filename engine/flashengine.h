#pragma once
// The Program and Verify operations without any window: they read the image, gather blocks, send them
// to a target through a retry loop and report progress and the outcome to a host. The main window and
// tervolt-cli are two hosts of the same engine.

#include "image/hexfiles.h"
#include "image/imageformat.h"
#include "image/imagereader.h"
#include "protocol/flashtarget.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

enum class TFlashOperation { foProgram, foVerify };

enum class TOutcomeKind {
    okProgramDone,  // "Program OK!"
    okCompareDone,  // "Compare OK!"
    okCancelled,    // Cancel in a prompt, or Stop confirmed
    okCompareError, // the board reported a mismatch
    okImageError,   // the reader's code, shown through the image error box
    okEmptyImage,   // nothing to send: the image holds no data
    okLineFailure,  // the line failed or the board sent what nobody asked: its state is unknown
};

struct TFlashOutcome {
    TOutcomeKind Kind = TOutcomeKind::okImageError;
    QString Text;
    QString Caption;
    THexResult ImageResult = hrOK; // last reader result; the message source for okImageError
    QString Detail;                // okImageError: the file name with the system's reason or the line
    TFormatAdvice Advice = TFormatAdvice::None; // okImageError: another format choice to suggest
    TImageFormat ReadAs = TImageFormat::Auto;   // the format the image was read as, once it was opened
    QString ImageNote;                          // what the reader said of the image it accepted
    TCompareResult Compare;
    std::uint64_t BytesSent = 0; // image bytes in the blocks the board confirmed
    qint64 ElapsedMs = 0;        // from the opening command to the end of the transfer
    // A Program that did not finish: what the FLASH holds now (empty otherwise).
    QString FlashState;
};

// The side that talks to the user: a window or a terminal.
class TFlashHost {
public:
    virtual ~TFlashHost() = default;
    // A command failed: true to send it again, false to cancel (nothing more is sent).
    virtual bool AskRetry() = 0;
    virtual void ShowBlockAddress(std::uint32_t address) = 0;
    // Progress as the share of the image's bytes the board has confirmed.
    virtual void ShowProgress(std::uint64_t bytesSent, std::uint64_t bytesTotal) = 0;
    // Once per block, unless the wait for the last answer has just run the event loop: let the user
    // interface handle what is pending, without waiting.
    virtual void ProcessMessages() = 0;
    virtual bool StopRequested() = 0;
    virtual void ReportOutcome(const TFlashOutcome& outcome) = 0;
    // Called once the image has been validated, just before the opening command.
    virtual void TransferStarting() {}
};

struct TImageSource {
    QString FileName;
    TImageFormat Format = TImageFormat::IntelExtended;
    std::uint32_t StartAddress = 0;
    bool WriteSizeHeader = true;
    TNameRule NameRule = TNameRule::NameFirst; // Auto: how a name that says binary weighs
    // Taken once for a run of several boards, so that each sends the same bytes; empty: the run
    // takes its own.
    std::shared_ptr<TImageSnapshot> Snapshot;
};

// Reader for the chosen format.
std::unique_ptr<TAbsoluteHexFile> CreateImageReader(const TImageSource& source);
// Opens the source's snapshot, or takes one of its file, and measures the image.
THexResult OpenImageSource(TAbsoluteHexFile& reader, const TImageSource& source);
// Opens the image and checks that there is something to send: nothing when it can be sent, else the
// outcome that ends the run before any command (an image error with its detail, or an empty image).
// The caller closes the reader.
std::optional<TFlashOutcome> CheckImage(TAbsoluteHexFile& reader, const TImageSource& source);

// "Program operation canceled" or "Verify operation canceled".
QString CancelledText(TFlashOperation operation);

// Address of a block as the window shows it: "0x" and at least six upper-case digits.
QString FormatBlockAddress(std::uint32_t address);
QString CompareErrorText(const TCompareResult& result);

class TFlashEngine {
public:
    static constexpr std::uint16_t kMaxBlockLength = 200;

    TFlashEngine(TFlashTarget& target, TFlashHost& host);

    // Runs one whole operation and reports exactly one outcome; returns it too.
    TFlashOutcome Run(TFlashOperation operation, const TImageSource& source);

private:
    bool Issue(const std::function<bool()>& command);
    bool SendBlock(TFlashOperation operation);
    void NoteLineFailure();
    TFlashOutcome Transfer(TFlashOperation operation, TAbsoluteHexFile& reader);
    // One Verify pass of the image that was sent, from its start.
    TFlashOutcome ReadBack(const TImageSource& source);
    // A Program whose board may have done otherwise than it answered is read back before it succeeds.
    TFlashOutcome ProveProgram(TFlashOutcome programmed, const TImageSource& source);
    TFlashOutcome Outcome(TFlashOperation operation, THexResult lastResult) const;
    QString FlashStateText() const;

    TFlashTarget& FTarget;
    TFlashHost& FHost;
    bool FCancelled = false;
    QString FLineFailure; // why the run ended as a communication failure
    TCompareResult FCompare;
    bool FMismatch = false;      // the board reported a mismatch this run (FCompare holds it)
    bool FVerifyInDoubt = false; // a Verify whose answers could not be matched to its blocks
    std::uint8_t FBlock[kMaxBlockLength] = {};
    std::uint32_t FBlockAddress = 0;
    std::uint32_t FBlockLength = 0;
    bool FOpened = false;         // the opening command was answered
    std::uint64_t FBytesSent = 0; // image bytes the board confirmed
    std::uint64_t FBytesTotal = 0;
    std::uint32_t FLastByte = 0; // address of the last byte confirmed
    // The last byte of a block that went out and was never confirmed: the board may have written it.
    std::optional<std::uint32_t> FUnconfirmedLastByte;
    // Why what the board answered cannot be taken as what it holds (a changed command carried out,
    // answers matched by a doubtful order); empty while it can.
    QString FDoubt;
    QElapsedTimer FClock;
};
