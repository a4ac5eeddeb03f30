#pragma once
// Result codes of the receiver link. They are Windows HRESULT values, kept as
// plain 32-bit numbers so the portable core needs no Windows headers. Callers
// treat exactly 0 as success; S_FALSE and every other value is a failure.
#include <cstdint>

namespace nerova::link {

using HResult = std::int32_t;

constexpr HResult kS_OK = 0;
constexpr HResult kS_FALSE = 1;
constexpr HResult kE_FAIL = static_cast<HResult>(0x80004005u);
constexpr HResult kE_NOINTERFACE = static_cast<HResult>(0x80004002u);
constexpr HResult kE_POINTER = static_cast<HResult>(0x80004003u);
constexpr HResult kE_OUTOFMEMORY = static_cast<HResult>(0x8007000Eu);
constexpr HResult kE_INVALIDARG = static_cast<HResult>(0x80070057u);
// HRESULT_FROM_WIN32(ERROR_MORE_DATA): the size query's answer, and the
// result of a read whose control is longer than the caller's buffer.
constexpr HResult kMoreData = static_cast<HResult>(0x800700EAu);
// HRESULT_FROM_WIN32(ERROR_BUSY): an exchange was asked for while another one
// of the same object was still waiting for its answer.
constexpr HResult kBusy = static_cast<HResult>(0x800700AAu);

}  // namespace nerova::link
