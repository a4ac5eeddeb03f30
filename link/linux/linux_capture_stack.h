#pragma once
// The capture stack of Linux: the video input devices are the uvcvideo nodes
// sysfs lists (sysfs_video_inputs.h), opening one reads its USB descriptors
// for the units of its VideoControl interface (uvc_descriptors.h) and opens
// the node read-write, and an extension unit's requests are uvcvideo's
// UVCIOC_CTRL_QUERY (uvc_device.h). Failures carry the errno.
//
// A node the user may not open fails at opening: AccessDenied, and
// TakeProblem() says what to do about it, e.g. "/dev/video0 is not
// accessible: add yourself to the group 'video' and log in again"; a query
// the driver refuses for its size is told there too. Messages() holds those
// and every other line for the user: the link's DebugOutput and failures
// without a kind of their own.
//
// The file system and the device layer must outlive the stack and every
// list and input it hands out; opened devices and their units hold what
// they need themselves.
#include <memory>
#include <string>
#include <vector>

#include "link/capture_stack.h"
#include "link/linux/diagnostics.h"
#include "link/linux/file_system.h"
#include "link/linux/sysfs_video_inputs.h"
#include "link/linux/uvc_device.h"

namespace nerova::link::linux_stack {

// The name the link shows for an input or an unserved function.
VideoInputName NameOf(const SysfsVideoInput& input);

class LinuxCaptureStack final : public CaptureStack {
 public:
  LinuxCaptureStack(const FileSystemView& files, UvcDeviceOpener& devices);
  LinuxCaptureStack(const LinuxCaptureStack&) = delete;
  LinuxCaptureStack& operator=(const LinuxCaptureStack&) = delete;

  LinkStatus ListVideoInputs(std::unique_ptr<VideoInputList>& out) override;
  // Kept as a line of Messages(), in UTF-8, without its line end.
  void DebugOutput(const wchar_t* text) override;

  std::vector<std::string> Messages() const { return m_diagnostics->Lines(); }
  // The latest problem with a video node since the last take (a refused
  // open, a control of another size), forgotten by taking it.
  DeviceProblem TakeProblem() { return m_diagnostics->TakeProblem(); }
  // The USB video functions plugged in that no video driver serves.
  std::vector<SysfsVideoInput> UnservedVideoFunctions() const;
  void ClearMessages() { m_diagnostics->Clear(); }

 private:
  const FileSystemView& m_files;
  UvcDeviceOpener& m_devices;
  std::shared_ptr<Diagnostics> m_diagnostics = std::make_shared<Diagnostics>();
};

}  // namespace nerova::link::linux_stack
