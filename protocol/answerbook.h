#pragma once
// The books of one line: which command lines the board still owes an answer, whether it echoes, and
// what each reply it sends is. Pure bookkeeping without time or a port, so that every rule can be
// checked on a script of sent lines and replies.
//
// A monitor answers one line after the other, so a reply settles the oldest owed command it can
// belong to, and older owed ones were lost on the way. It belongs to a command by its first line when
// that is the command's echo; once the board has echoed, every later answer must carry its echo (a
// ping's echo is the empty line). A board that never echoed is matched by kind: a ping's result is an
// empty line, every other command's is not. Once the books are open, a reply that settles nothing is
// a surplus and never passes unseen; before, it is what the board sent on its own (a start-up banner).

#include <QByteArray>

#include <cstddef>
#include <deque>
#include <vector>

enum class TReplyKind {
    rkAnswer,   // settles the owed command Line (and the older owed ones)
    rkSurplus,  // settles nothing: a duplicate, a second answer, text nobody asked for
    rkUnechoed, // an echoing board's answer without the echo
    rkNotSent,  // the echo of a command that was not sent
    rkUnasked,  // settles nothing, before the books are open: discarded
};

struct TReplyAccount {
    TReplyKind Kind = TReplyKind::rkUnasked;
    QByteArray Line; // rkAnswer: the command line it settles (empty for a ping)
};

class TAnswerBook {
public:
    // Owed answers remembered at most; beyond that the oldest is forgotten.
    static constexpr std::size_t kMaxOwed = 64;
    // Recently sent lines remembered: an echo of one of them that settles nothing is a second answer.
    static constexpr std::size_t kHistoryLength = 8;

    // A command line went out (without CR; a ping is empty). False when an owed command other than a
    // ping had to be forgotten to make room.
    bool Sent(const QByteArray& line);
    TReplyAccount Account(const QByteArray& reply);

    // From now on every reply must settle a command; closed again once a run has ended in step.
    void Open() { FOpen = true; }
    void Close() { FOpen = false; }
    bool IsOpen() const { return FOpen; }
    bool Echoes() const { return FEchoes; }
    bool OwesOtherThanPings() const;
    // The command lines still owed an answer, oldest first.
    const std::deque<QByteArray>& Owed() const { return FOwed; }
    // A line opened anew owes nothing and has not shown whether it echoes.
    void Clear();

private:
    TReplyAccount Settle(std::deque<QByteArray>::iterator answered);
    TReplyAccount Unsettled(TReplyKind kind) const;

    std::deque<QByteArray> FOwed;
    std::vector<QByteArray> FHistory;
    bool FEchoes = false;
    bool FOpen = false;
};

// The first line of a reply without its line end, and the rest (what the command answered).
QByteArray EchoOf(const QByteArray& reply);
QByteArray ResultOf(const QByteArray& reply);
