#pragma once
// What became of one request to the platform: a kind the callers switch on,
// and beside it the platform's own code as it came (an HRESULT on Windows,
// an errno on Linux; 0 when the link itself made the verdict, such as "no
// device carries the identity"). Success is exactly success: a platform
// answer that is not plainly a success (S_FALSE included) is a failure.
#include <cstdint>

namespace nerova::link {

enum class StatusKind {
  Ok,
  // No such device, unit or control; nothing in the category.
  NotFound,
  // The device has gone (unplugged, restarting), or the caller's use of it
  // has been stopped.
  Gone,
  // The user may not open the device.
  AccessDenied,
  // The device refused the request (a stall).
  Refused,
  // The control's length and the bytes offered differ.
  WrongLength,
  // Another exchange has the device or the object now.
  Busy,
  // The device or its driver does not support the request.
  Unsupported,
  Failed,
};

struct LinkStatus {
  StatusKind kind = StatusKind::Ok;
  std::int32_t code = 0;

  static constexpr LinkStatus Success() { return {}; }
  static constexpr LinkStatus Of(StatusKind kind, std::int32_t code = 0) { return {kind, code}; }
  bool Ok() const { return kind == StatusKind::Ok; }
  friend constexpr bool operator==(const LinkStatus&, const LinkStatus&) = default;
};

}  // namespace nerova::link
