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

void TCommunicationUnit::SendCommand(const QByteArray& text) {
    FRxReady = false;
    const auto size = std::uint32_t(text.size());
    if (FCommPortDriver->SendData(text.constData(), size) != size)
        throw EComUnitError(EComUnitError::kTransmitError);
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
    if (!dataPtr)
        return;
    const char* data = reinterpret_cast<const char*>(dataPtr);
    std::uint32_t runStart = 0;
    for (std::uint32_t i = 0; i < dataSize; ++i) {
        if (data[i] != '>')
            continue;
        FRxBuffer.append(data + runStart, qsizetype(i - runStart));
        runStart = i + 1;
        // Only a '>' after CR LF closes a reply; any other is dropped.
        if (FRxBuffer.endsWith("\r\n")) {
            FRxReply = FRxBuffer;
            FRxBuffer.clear();
            FRxReady = true;
        }
    }
    FRxBuffer.append(data + runStart, qsizetype(dataSize - runStart));
}
