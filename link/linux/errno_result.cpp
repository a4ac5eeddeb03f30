#include "link/linux/errno_result.h"

#include <cerrno>

namespace nerova::link::linux_stack {
namespace {

// Translations shared by opens and queries; kS_OK for "no translation".
HResult CommonResult(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return kAccessDenied;
    case ENODEV:
    case ENXIO:
    case ESHUTDOWN:
      return kDeviceNotConnected;
    case EPIPE:  // the device stalled the request
    case EIO:
    case EPROTO:
    case EILSEQ:
      return kGenFailure;
    case EINVAL:
    case ERANGE:
      return kE_INVALIDARG;  // the same value as ERROR_INVALID_PARAMETER
    case EBUSY:
      return kBusy;
    case ETIMEDOUT:
      return kTimeout;
    case ENOMEM:
      return kE_OUTOFMEMORY;
    case EFAULT:
      return kE_POINTER;
    case ENOBUFS:
      return kInsufficientBuffer;
    case EBADRQC:  // the control does not support the request
    case EOPNOTSUPP:
    case ENOTTY:  // the node's driver has no such ioctl
      return kNotSupported;
    default:
      return kS_OK;
  }
}

}  // namespace

HResult OpenErrorResult(int error) {
  if (error == ENOENT) return kDeviceNotConnected;
  const HResult hr = CommonResult(error);
  return hr != kS_OK ? hr : kE_FAIL;
}

HResult QueryErrorResult(int error) {
  if (error == ENOENT) return kNotFound;
  const HResult hr = CommonResult(error);
  return hr != kS_OK ? hr : kE_FAIL;
}

bool IsKnownError(int error) { return error == ENOENT || CommonResult(error) != kS_OK; }

}  // namespace nerova::link::linux_stack
