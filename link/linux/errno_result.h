#pragma once
// The results the Windows video-class driver gives for the failures the Linux
// one reports as errno values, so that callers of the link see one set of
// codes on both systems.
#include "link/hresult.h"

namespace nerova::link::linux_stack {

// HRESULT_FROM_WIN32 values beyond those in link/hresult.h.
constexpr HResult kAccessDenied = static_cast<HResult>(0x80070005u);        // ERROR_ACCESS_DENIED
constexpr HResult kGenFailure = static_cast<HResult>(0x8007001Fu);          // ERROR_GEN_FAILURE
constexpr HResult kNotSupported = static_cast<HResult>(0x80070032u);        // ERROR_NOT_SUPPORTED
constexpr HResult kInsufficientBuffer = static_cast<HResult>(0x8007007Au);  // ERROR_INSUFFICIENT_BUFFER
constexpr HResult kDeviceNotConnected = static_cast<HResult>(0x8007048Fu);  // ERROR_DEVICE_NOT_CONNECTED
constexpr HResult kNotFound = static_cast<HResult>(0x80070490u);            // ERROR_NOT_FOUND
constexpr HResult kSetNotFound = static_cast<HResult>(0x80070492u);         // ERROR_SET_NOT_FOUND
constexpr HResult kTimeout = static_cast<HResult>(0x800705B4u);             // ERROR_TIMEOUT

// Failure of opening a video node. ENOENT here means the node is gone: the
// device was unplugged after the enumeration saw it.
HResult OpenErrorResult(int error);
// Failure of UVCIOC_CTRL_QUERY. ENOENT here means the driver knows no such
// unit or control, which Windows reports as ERROR_NOT_FOUND.
HResult QueryErrorResult(int error);
// Whether a failure has a translation of its own; the others come back as
// E_FAIL and deserve a diagnostic line naming the errno.
bool IsKnownError(int error);

}  // namespace nerova::link::linux_stack
