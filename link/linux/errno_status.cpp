#include "link/linux/errno_status.h"

#include <cerrno>

namespace nerova::link::linux_stack {
namespace {

// Kinds shared by opens and queries; Failed for "no kind of its own".
StatusKind CommonKind(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return StatusKind::AccessDenied;
    case ENODEV:
    case ENXIO:
    case ESHUTDOWN:
      return StatusKind::Gone;
    case EPIPE:  // the device stalled the request
    case EIO:
    case EPROTO:
    case EILSEQ:
      return StatusKind::Refused;
    case ENOBUFS:  // the size differs from the control's length
      return StatusKind::WrongLength;
    case EBUSY:
      return StatusKind::Busy;
    case EBADRQC:  // the control does not support the request
    case EOPNOTSUPP:
    case ENOTTY:  // the node's driver has no such ioctl
      return StatusKind::Unsupported;
    default:
      return StatusKind::Failed;
  }
}

}  // namespace

LinkStatus OpenStatus(int error) {
  return LinkStatus::Of(error == ENOENT ? StatusKind::Gone : CommonKind(error), error);
}

LinkStatus QueryStatus(int error) {
  return LinkStatus::Of(error == ENOENT ? StatusKind::NotFound : CommonKind(error), error);
}

bool IsKnownError(int error) {
  switch (error) {
    case ENOENT:
    case EINVAL:
    case ERANGE:
    case ETIMEDOUT:
    case ENOMEM:
    case EFAULT:
      return true;
    default:
      return CommonKind(error) != StatusKind::Failed;
  }
}

}  // namespace nerova::link::linux_stack
