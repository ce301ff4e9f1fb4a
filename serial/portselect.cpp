// The port a name asks for, chosen when it is opened: the driver holds one TCommPort for its life, while
// its name may change from a device to a serial server between connections.

#include "serial/comm_net.h"
#include "serial/commport.h"
#include "serial/porturl.h"

#include <limits>

namespace {

class TCommPortByName final : public TCommPort {
public:
    // `device` is resolved already (ResolvePortName): opening reads no settings again.
    bool Open(const QString& device) override {
        const bool network = IsNetworkPortName(device);
        if (network != FNetwork || !FPort) {
            FPort.reset();
            FNetwork = network;
            FPort = network ? std::unique_ptr<TCommPort>(std::make_unique<TCommPortNet>())
                            : CreateLocalCommPort();
            FPort->SetNoteSink(FNotes);
        }
        return FPort->Open(device);
    }
    void Adopt(TCommHandle handle) override {
        if (FNetwork || !FPort) {
            FPort = CreateLocalCommPort();
            FPort->SetNoteSink(FNotes);
            FNetwork = false;
        }
        FPort->Adopt(handle);
    }
    void Release() override { FPort->Release(); }
    void Close() override { FPort->Close(); }
    bool IsOpen() const override { return FPort->IsOpen(); }
    TCommHandle Handle() const override { return FPort->Handle(); }
    bool IsGone() const override { return FPort->IsGone(); }
    bool CanNotifyReadable() const override { return FPort->CanNotifyReadable(); }
    bool SetLineState(const TCommLineState& state) override { return FPort->SetLineState(state); }
    bool SetQueueSizes(std::uint32_t inSize, std::uint32_t outSize) override {
        return FPort->SetQueueSizes(inSize, outSize);
    }
    void SetWriteTimeout(int timeoutMs) override { FPort->SetWriteTimeout(timeoutMs); }
    bool Purge(bool input, bool output) override { return FPort->Purge(input, output); }
    bool QueuedIn(std::uint32_t& count) override { return FPort->QueuedIn(count); }
    bool QueuedOut(std::uint32_t& count) override { return FPort->QueuedOut(count); }
    std::int64_t Read(void* buffer, std::uint32_t size) override { return FPort->Read(buffer, size); }
    std::int64_t Write(const void* data, std::uint32_t size) override { return FPort->Write(data, size); }
    TCommWaitResult WaitReadable(int timeoutMs) override { return FPort->WaitReadable(timeoutMs); }
    TCommWaitResult WaitWritable(int timeoutMs) override { return FPort->WaitWritable(timeoutMs); }
    std::uint8_t ModemLines() override { return FPort->ModemLines(); }
    void SetDTR(bool on) override { FPort->SetDTR(on); }
    void SetRTS(bool on) override { FPort->SetRTS(on); }
    QString LastFailure() const override { return FPort->LastFailure(); }
    void SetNoteSink(TCommNoteSink sink) override {
        FNotes = std::move(sink);
        FPort->SetNoteSink(FNotes);
    }

private:
    bool FNetwork = false;
    std::unique_ptr<TCommPort> FPort = CreateLocalCommPort();
    TCommNoteSink FNotes;
};

} // namespace

std::unique_ptr<TCommPort> CreateCommPort() {
    return std::make_unique<TCommPortByName>();
}

std::optional<int> ComNumberOf(const QString& name) {
    QStringView rest(name);
    if (rest.startsWith(u"\\\\.\\"))
        rest = rest.mid(4);
    if (rest.size() <= 3 || !rest.startsWith(u"COM", Qt::CaseInsensitive))
        return std::nullopt;
    rest = rest.mid(3);
    for (const QChar digit : rest)
        if (digit < u'0' || digit > u'9')
            return std::nullopt;
    // Too many digits for any port: the largest number, which every range check refuses.
    bool fits = false;
    const int number = rest.toInt(&fits);
    return fits ? number : std::numeric_limits<int>::max();
}
