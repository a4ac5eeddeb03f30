#pragma once
// Who may talk to the receiver, and when.
//
// The receiver answers one request at a time and keeps one "last command"
// for everyone: a read is a SET_CUR of the command and, after a pause, a
// GET_CUR of its answer, so anybody's request between the two makes the
// reader get another answer, and a write between them changes it. Hence:
//
// - Every exchange with a receiver (a read's SET, pause and GET, a write,
//   the version probe, an Apply whole) runs inside a turn of that receiver:
//   ReceiverSettings' reads and writes take the turn they run in, and a
//   turn that is not held lets none through.
// - A turn is taken on a found receiver: the one kept, or else the one the
//   probe unit finds now, which is kept from then on. Without one there is
//   no turn, and no exchange.
// - Taking it waits, once, for everybody else at the same time: for other
//   programs (the receiver's lock, ReceiverLocks: a named mutex on Windows,
//   a lock file on Linux) and, through the receiver link's ExchangeGate,
//   for a settings window of this program that is being replaced. The
//   outermost turn has one wait budget; turns taken inside it never wait
//   again.
// - Inside a turn one exchange at a time: a message handler that runs in
//   an exchange's pause and asks for another is refused (ReceiverSettings'
//   busy flag), so the command block is never overwritten mid-read.
// - A turn taken as a whole sequence (an Apply's writes and restart) is let
//   finish by whoever stops this program's use of the receiver.
// - Nothing modal holds a turn, except the success box of an Apply, whose
//   restart waits on it; the settings window shows its other boxes once its
//   turn has ended.
#include <cstdint>

namespace nerova::link {

class ReceiverSettings;

// Whether taking a turn waits for somebody else who has the receiver.
enum class TurnWait {
  // Up to the wait the receiver was given, pumping messages meanwhile.
  Bounded,
  // Not at all (the signal poll: a reading skipped comes again).
  None,
};

enum class TurnScope {
  Exchanges,
  // A sequence that must go out whole: a stop waits for its end, briefly.
  WholeSequence,
};

enum class TurnOutcome {
  Held,
  // No receiver was found to take the turn on.
  NoReceiver,
  // Another program has the receiver, and kept it past the wait.
  HeldElsewhere,
  // The caller's use of the receiver was stopped while it waited.
  Stopped,
  // The platform's lock could not be opened or taken.
  Failed,
};

// One turn, for its scope. Its owner uses it from one thread.
class ReceiverTurn {
 public:
  ReceiverTurn(ReceiverSettings& settings, TurnWait wait, TurnScope scope = TurnScope::Exchanges);
  ~ReceiverTurn();
  ReceiverTurn(const ReceiverTurn&) = delete;
  ReceiverTurn& operator=(const ReceiverTurn&) = delete;

  bool Held() const { return m_outcome == TurnOutcome::Held; }
  TurnOutcome Outcome() const { return m_outcome; }
  // Whether this is a turn of `settings`.
  bool Of(const ReceiverSettings& settings) const { return &m_settings == &settings; }
  // The whole sequence has made all its exchanges but the last and now
  // waits for the user before that one: a stop from here on ends the wait
  // at once, and the last exchange still goes out.
  void ReserveLastExchange();

 private:
  ReceiverSettings& m_settings;
  const TurnScope m_scope;
  const TurnOutcome m_outcome;
};

}  // namespace nerova::link
