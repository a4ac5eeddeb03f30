#pragma once
// Our portable GUIDs hold the standard 16-byte memory layout, which is what a
// Windows GUID is in memory; these convert between the two.
#include <windows.h>

#include <cstring>

#include "link/guid.h"

namespace nerova::link::win {

static_assert(sizeof(GUID) == sizeof(Guid::bytes));

inline GUID ToWinGuid(const Guid& guid) {
  GUID out;
  std::memcpy(&out, guid.bytes.data(), sizeof out);
  return out;
}

inline Guid FromWinGuid(const GUID& guid) {
  Guid out;
  std::memcpy(out.bytes.data(), &guid, sizeof guid);
  return out;
}

}  // namespace nerova::link::win
