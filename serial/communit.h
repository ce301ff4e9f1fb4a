#pragma once
// The communication unit: owns the port driver, cuts the received stream into the monitor's replies
// (each closed by a '>' that follows CR LF) and offers the two primitives the command protocol rests on.

#include "serial/cpdrv.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <stdexcept>

class EComUnitError : public std::runtime_error {
public:
    // Nothing raises kTransmitError any more (SendCommand reports a short write by its result), but
    // the code keeps its text: the constructor gives every code of the unit its message, and the test
    // of those texts checks both.
    enum : int { kTransmitError = 1, kDataNotReady = 2 };

    // An empty message takes the text that belongs to the code.
    explicit EComUnitError(int errorCode, const QString& message = {});

    int ErrorCode() const { return FErrorCode; }
    QString Message() const { return FMessage; }

private:
    static QString TextOf(int errorCode);

    int FErrorCode;
    QString FMessage;
};

class TCommunicationUnit : public QObject {
    Q_OBJECT

public:
    // Longer than any answer the monitor gives (the echo of a 417-character block command and one
    // result line); text beyond it is a flood, not an answer, and is not kept.
    static constexpr qsizetype kMaxReplyBytes = 4096;
    // Closed replies kept for the protocol between two commands; older ones are dropped.
    static constexpr std::size_t kMaxQueuedReplies = 16;

    explicit TCommunicationUnit(QObject* owner = nullptr);
    ~TCommunicationUnit() override;

    TCommPortDriver* CommPortDriver() const { return FCommPortDriver; }
    bool RxReady() const { return FRxReady; }
    QByteArray RxReply() const { return FRxReply; }
    QByteArray RxBuffer() const { return FRxBuffer; }

    // Writes the text; false when fewer bytes went out. Waits for nothing.
    bool SendCommand(const QByteArray& text);
    // The last complete reply; throws EComUnitError(2) while none is ready. Does not consume it.
    QByteArray ReadReply();

    // Every reply closed and not yet taken, oldest first: the protocol accounts for each one and
    // matches it to the command it waits for. False when there is none.
    bool TakeReply(QByteArray& reply);
    // Counts that only grow: replies dropped unread because too many were queued, and floods (text
    // that grew past kMaxReplyBytes without closing; it and the reply it ends in are discarded).
    std::uint64_t RepliesDropped() const { return FRepliesDropped; }
    std::uint64_t Overflows() const { return FOverflows; }
    // Bytes received that nobody will read: those of the dropped replies and of floods. A count that
    // keeps growing while no command waits is a board that sends without pause.
    std::uint64_t BytesDiscarded() const { return FBytesDiscarded; }
    // Inside a flood: text past kMaxReplyBytes is being dropped until the next closing '>'.
    bool InFlood() const { return FDiscarding; }

    // Every byte that goes out (as written) and comes in (as received), for a trace of the line.
    // Called on the unit's own thread; empty by default.
    std::function<void(bool sent, const QByteArray& bytes)> OnTraffic;

    // The driver's OnReceiveData.
    void CommPortDriverReceiveData(QObject* sender, const std::uint8_t* dataPtr, std::uint32_t dataSize);

private:
    TCommPortDriver* FCommPortDriver; // a child: owned through the object tree
    bool FRxReady = false;
    QByteArray FRxReply;
    QByteArray FRxBuffer;
    std::deque<QByteArray> FReplies;
    std::uint64_t FRepliesDropped = 0;
    std::uint64_t FOverflows = 0;
    std::uint64_t FBytesDiscarded = 0;
    char FStreamTail[2] = {};      // the last two bytes received, for a '>' at the start of a delivery
    bool FDiscarding = false;      // inside a flood: drop everything up to the next closing '>'
    std::uint64_t FConnection = 0; // the driver's connection the received text belongs to
};
