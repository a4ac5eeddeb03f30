#pragma once
// Who may talk to the receiver now. The receiver link runs each of its
// operations (a find, a SET_CUR, a GET_CUR) as one exchange through its
// gate; a program with the receiver to itself lets every exchange through
// (OpenGate), the settings window lets the tray host stop it and hand the
// receiver to the next window.
#include <functional>

#include "link/link_status.h"

namespace nerova::link {

class ExchangeGate {
 public:
  virtual ~ExchangeGate() = default;
  // Runs `exchange` as one exchange with the receiver, or refuses it without
  // running it (the receiver is gone, as far as the caller goes) once the
  // caller's use of the receiver has been stopped.
  virtual LinkStatus Run(const std::function<LinkStatus()>& exchange) = 0;
  // Whoever may stop the caller's use of the receiver lets a sequence held
  // here complete whole, briefly; StopRequested tells that such a stop has
  // come.
  virtual void HoldForWholeSequence(bool hold) = 0;
  virtual bool StopRequested() const = 0;
  // The held sequence has made all its exchanges but the last and now waits
  // for the user before that one: a stop from here on ends the wait at once,
  // and the last exchange still goes out.
  virtual void ReserveLastExchange() = 0;
  // The caller is done with the receiver (its window is closing): a wait
  // for the receiver under way ends at once, and every later exchange is
  // refused without waiting.
  virtual void GiveUp() = 0;
};

// Lets every exchange through, holds nothing, is never stopped.
ExchangeGate& OpenGate();

}  // namespace nerova::link
