#pragma once
// The communication unit: owns the port driver, cuts the received stream into the monitor's replies
// (each closed by a '>' that follows CR LF) and offers the two primitives the command protocol rests on.

#include "serial/cpdrv.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <stdexcept>

class EComUnitError : public std::runtime_error {
public:
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
    explicit TCommunicationUnit(QObject* owner = nullptr);
    ~TCommunicationUnit() override;

    TCommPortDriver* CommPortDriver() const { return FCommPortDriver; }
    bool RxReady() const { return FRxReady; }
    QByteArray RxReply() const { return FRxReply; }
    QByteArray RxBuffer() const { return FRxBuffer; }

    // Writes the text; throws EComUnitError(1) when fewer bytes went out. Waits for nothing.
    void SendCommand(const QByteArray& text);
    // The last complete reply; throws EComUnitError(2) while none is ready. Does not consume it.
    QByteArray ReadReply();

    // The driver's OnReceiveData.
    void CommPortDriverReceiveData(QObject* sender, const std::uint8_t* dataPtr, std::uint32_t dataSize);

private:
    TCommPortDriver* FCommPortDriver; // a child: owned through the object tree
    bool FRxReady = false;
    QByteArray FRxReply;
    QByteArray FRxBuffer;
};
