// The communication unit's reply framing on an arbitrary received stream. Input: two bytes that seed
// how the stream is cut into deliveries (empty deliveries included), then the stream.
//
// Checked after every delivery against the framing rule itself (a '>' that follows CR LF closes the
// reply, any other '>' is text, text beyond the bound is dropped up to the next closing '>', every
// delivery clears the ready flag): the ready flag, the reply and the pending text agree with the rule;
// a reply always ends in CR LF and the pending text stays within the bound; the queue hands out the
// replies in order; ReadReply hands out the reply while it is ready and raises "data not ready"
// otherwise.

#include "fuzz/fuzzcheck.h"
#include "serial/communit.h"

#include <QCoreApplication>

#include <algorithm>
#include <memory>

namespace {

// The rule, kept deliberately naive.
struct TFramingRule {
    QByteArray Buffer;
    QByteArray Reply;
    QList<QByteArray> Closed;
    QByteArray Tail = QByteArray(2, '\0'); // the last two bytes received
    bool Ready = false;
    bool Discarding = false;

    void Deliver(const std::uint8_t* data, std::size_t size) {
        Ready = false;
        for (std::size_t i = 0; i < size; ++i) {
            const char c = char(data[i]);
            if (c == '>' && Tail == "\r\n") {
                if (!Discarding) {
                    Reply = Buffer;
                    Closed.append(Buffer);
                    Ready = true;
                }
                Buffer.clear();
                Discarding = false;
            } else if (!Discarding && Buffer.size() < TCommunicationUnit::kMaxReplyBytes) {
                Buffer.append(c);
            } else {
                Buffer.clear();
                Discarding = true;
            }
            Tail = Tail.right(1) + c;
        }
    }
};

// Delivery sizes from a small fixed generator, so that a finding replays the same way.
class TSplitter {
public:
    explicit TSplitter(std::uint32_t seed) : FState(seed * 2654435761u + 1) {}
    std::size_t Next(std::size_t left) {
        FState = FState * 1103515245u + 12345u;
        const std::uint32_t pick = (FState >> 16) & 0xFF;
        if (pick < 16)
            return 0; // an empty delivery still clears the ready flag
        if (pick < 64)
            return std::min<std::size_t>(left, 1);
        return std::min<std::size_t>(left, pick % 24);
    }

private:
    std::uint32_t FState;
};

void EnsureApplication() {
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "fuzz_replyframing";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    EnsureApplication();
    TSplitter splitter(std::uint32_t(data[0]) << 8 | data[1]);
    const std::uint8_t* stream = data + 2;
    std::size_t left = size - 2;

    TCommunicationUnit unit;
    TFramingRule rule;
    while (left > 0) {
        const std::size_t piece = splitter.Next(left);
        // The exact-size copy lets the address sanitizer see any read past the delivery.
        std::unique_ptr<std::uint8_t[]> delivery(new std::uint8_t[piece ? piece : 1]);
        std::copy(stream, stream + piece, delivery.get());
        unit.CommPortDriverReceiveData(unit.CommPortDriver(), delivery.get(), std::uint32_t(piece));
        rule.Deliver(stream, piece);
        stream += piece;
        left -= piece;

        FUZZ_CHECK(unit.RxReady() == rule.Ready);
        FUZZ_CHECK(unit.RxBuffer() == rule.Buffer);
        FUZZ_CHECK(unit.RxReply() == rule.Reply);
        FUZZ_CHECK(unit.RxBuffer().size() <= TCommunicationUnit::kMaxReplyBytes);
        FUZZ_CHECK(unit.RxReply().isEmpty() || unit.RxReply().endsWith("\r\n"));
        for (QByteArray taken; unit.TakeReply(taken);) {
            FUZZ_CHECK(!rule.Closed.isEmpty() && taken == rule.Closed.front());
            rule.Closed.removeFirst();
        }
        FUZZ_CHECK(rule.Closed.isEmpty());
        try {
            const QByteArray reply = unit.ReadReply();
            FUZZ_CHECK(rule.Ready && reply == rule.Reply);
        } catch (const EComUnitError& error) {
            FUZZ_CHECK(!rule.Ready && error.ErrorCode() == EComUnitError::kDataNotReady);
        }
    }
    return 0;
}
