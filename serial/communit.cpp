#include "serial/communit.h"

EComUnitError::EComUnitError(int errorCode, const QString& message)
    : std::runtime_error((message.isEmpty() ? TextOf(errorCode) : message).toStdString()),
      FErrorCode(errorCode), FMessage(message.isEmpty() ? TextOf(errorCode) : message) {}

QString EComUnitError::TextOf(int errorCode) {
    switch (errorCode) {
    case kTransmitError:
        return QStringLiteral("Transmitting error occurred!\nSome data may be lost.");
    case kDataNotReady:
        return QStringLiteral("Data not ready!");
    default:
        return QString();
    }
}

TCommunicationUnit::TCommunicationUnit(QObject* owner)
    : QObject(owner), FCommPortDriver(new TCommPortDriver(this)) {
    FCommPortDriver->SetPort(pnCustom);
    FCommPortDriver->SetPortName(QStringLiteral("\\\\.\\COM2"));
    FCommPortDriver->OnReceiveData = [this](QObject* sender, const std::uint8_t* dataPtr,
                                            std::uint32_t dataSize) {
        CommPortDriverReceiveData(sender, dataPtr, dataSize);
    };
    FCommPortDriver->SetPollingDelay(0);
    // A reply is taken as soon as its bytes arrive, not up to a polling period later: at 115200 baud a
    // 5 ms wait per command costs several percent of the line.
    FCommPortDriver->SetPollOnReadable(true);
}

TCommunicationUnit::~TCommunicationUnit() {
    FCommPortDriver->Disconnect();
}

bool TCommunicationUnit::SendCommand(const QByteArray& text) {
    FRxReady = false;
    const auto size = std::uint32_t(text.size());
    const std::uint32_t sent = FCommPortDriver->SendData(text.constData(), size);
    if (OnTraffic && sent != 0)
        OnTraffic(true, text.left(qsizetype(sent)));
    return sent == size;
}

bool TCommunicationUnit::TakeReply(QByteArray& reply) {
    if (FReplies.empty())
        return false;
    reply = std::move(FReplies.front());
    FReplies.pop_front();
    return true;
}

QByteArray TCommunicationUnit::ReadReply() {
    if (!FRxReady)
        throw EComUnitError(EComUnitError::kDataNotReady);
    return FRxReply;
}

void TCommunicationUnit::CommPortDriverReceiveData(QObject*, const std::uint8_t* dataPtr,
                                                   std::uint32_t dataSize) {
    // No second delivery while this one runs, even if something below lets events through.
    struct TPause {
        TCommPortDriver* Driver;
        explicit TPause(TCommPortDriver* driver) : Driver(driver) { Driver->PausePolling(); }
        ~TPause() { Driver->ContinuePolling(); }
    } pause(FCommPortDriver);

    FRxReady = false;
    // Text of a line that was closed since is not the front of anything on this one.
    if (const std::uint64_t connection = FCommPortDriver->Connections(); connection != FConnection) {
        FConnection = connection;
        FRxBuffer.clear();
        FReplies.clear();
        FDiscarding = false;
        FStreamTail[0] = FStreamTail[1] = '\0';
    }
    if (!dataPtr)
        return;
    const char* data = reinterpret_cast<const char*>(dataPtr);
    if (OnTraffic && dataSize != 0)
        OnTraffic(false, QByteArray(data, qsizetype(dataSize)));
    std::uint32_t runStart = 0;
    // Appends received text that closes nothing, within the bound; beyond it the text is a flood.
    auto keep = [this](const char* from, std::uint32_t count) {
        if (FDiscarding) {
            FBytesDiscarded += count;
            return;
        }
        if (FRxBuffer.size() + qsizetype(count) > kMaxReplyBytes) {
            FBytesDiscarded += std::uint64_t(FRxBuffer.size()) + count;
            FRxBuffer.clear();
            FRxBuffer.squeeze();
            FDiscarding = true;
            ++FOverflows;
            return;
        }
        FRxBuffer.append(from, qsizetype(count));
    };
    for (std::uint32_t i = 0; i < dataSize; ++i) {
        if (data[i] != '>')
            continue;
        // Only a '>' after CR LF closes a reply; any other is part of the text, so that it can never
        // turn a wrong answer into a right one.
        const char before1 = i >= 1 ? data[i - 1] : FStreamTail[1];
        const char before2 = i >= 2 ? data[i - 2] : i == 1 ? FStreamTail[1] : FStreamTail[0];
        const bool closes = before2 == '\r' && before1 == '\n';
        if (!closes)
            continue;
        keep(data + runStart, i - runStart);
        runStart = i + 1;
        if (FDiscarding) {
            FDiscarding = false;
            continue;
        }
        FRxReply = FRxBuffer;
        FRxBuffer.clear();
        FRxReady = true;
        if (FReplies.size() == kMaxQueuedReplies) {
            FBytesDiscarded += std::uint64_t(FReplies.front().size());
            FReplies.pop_front();
            ++FRepliesDropped;
        }
        FReplies.push_back(FRxReply);
    }
    keep(data + runStart, dataSize - runStart);
    if (dataSize >= 2)
        FStreamTail[0] = data[dataSize - 2];
    else if (dataSize == 1)
        FStreamTail[0] = FStreamTail[1];
    if (dataSize >= 1)
        FStreamTail[1] = data[dataSize - 1];
}
