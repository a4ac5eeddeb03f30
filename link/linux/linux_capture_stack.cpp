#include "link/linux/linux_capture_stack.h"

#include <atomic>
#include <cerrno>
#include <system_error>

#include "link/linux/errno_result.h"
#include "link/linux/sysfs_video_inputs.h"
#include "link/linux/uvc_topology.h"
#include "link/utf8_codec.h"

namespace nerova::link::linux_stack {
namespace {

std::string ErrorText(int error) { return std::generic_category().message(error); }

// The advice after a refused open: which group the node belongs to. A node
// left to root needs a udev rule rather than a group membership.
std::string AccessAdvice(const std::string& nodePath, const std::string& group) {
  const std::string head = nodePath + " is not accessible: ";
  if (group.empty()) return head + "permission denied";
  if (group == "root") {
    return head + "it belongs to the group 'root'; a udev rule giving it to a group of yours "
                  "(such as 'video') is needed";
  }
  return head + "add yourself to the group '" + group + "' and log in again";
}

class UvcFilter final : public CaptureFilter {
 public:
  explicit UvcFilter(std::shared_ptr<BoundNode> bound) : m_bound(std::move(bound)) {}
  void AddRef() override { m_references.fetch_add(1, std::memory_order_relaxed); }
  void Release() override {
    if (m_references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
  HResult QueryTopology(std::unique_ptr<Topology>& out) override {
    out = std::make_unique<UvcTopology>(m_bound);
    return kS_OK;
  }

 private:
  ~UvcFilter() override = default;
  std::atomic<long> m_references{1};
  std::shared_ptr<BoundNode> m_bound;
};

class UvcMoniker final : public DeviceMoniker {
 public:
  UvcMoniker(VideoInput input, const FileSystemView& files, UvcDeviceOpener& devices,
             std::shared_ptr<Diagnostics> diagnostics)
      : m_input(std::move(input)), m_files(files), m_devices(devices),
        m_diagnostics(std::move(diagnostics)) {}

  HResult GetDisplayName(std::wstring& name) override {
    name = m_input.displayName;
    return kS_OK;
  }

  HResult BindToFilter(FilterRef& out) override {
    out.Reset();
    auto bound = std::make_shared<BoundNode>();
    bound->nodePath = m_input.nodePath;
    bound->diagnostics = m_diagnostics;

    // The descriptors are read at binding, as Windows reads them when the
    // device starts: the topology stays what it was when the node was opened.
    std::string descriptors;
    if (const int error = m_files.ReadFile(m_input.usbDevicePath + "/descriptors", descriptors)) {
      m_diagnostics->Add(m_input.usbDevicePath + "/descriptors could not be read: " +
                         ErrorText(error));
      return OpenErrorResult(error);
    }
    bound->entities = ParseVideoControlEntities(descriptors, m_input.interfaceNumber);

    if (const int error = m_devices.Open(m_input.nodePath, bound->device)) {
      if (error == EACCES || error == EPERM) {
        m_diagnostics->AddProblem(DeviceProblemKind::NotAccessible,
                                  AccessAdvice(m_input.nodePath, m_devices.OwningGroup(m_input.nodePath)));
      } else {
        m_diagnostics->Add(m_input.nodePath + " could not be opened: " + ErrorText(error));
      }
      return OpenErrorResult(error);
    }
    if (!bound->device) return kE_FAIL;
    out = FilterRef::Adopt(new UvcFilter(std::move(bound)));
    return kS_OK;
  }

 private:
  VideoInput m_input;
  const FileSystemView& m_files;
  UvcDeviceOpener& m_devices;
  std::shared_ptr<Diagnostics> m_diagnostics;
};

class UvcEnumeration final : public DeviceEnumeration {
 public:
  UvcEnumeration(std::vector<VideoInput> inputs, const FileSystemView& files,
                 UvcDeviceOpener& devices, std::shared_ptr<Diagnostics> diagnostics)
      : m_inputs(std::move(inputs)), m_files(files), m_devices(devices),
        m_diagnostics(std::move(diagnostics)) {}

  HResult Next(std::unique_ptr<DeviceMoniker>& out) override {
    out.reset();
    if (m_next >= m_inputs.size()) return kS_FALSE;
    out = std::make_unique<UvcMoniker>(m_inputs[m_next++], m_files, m_devices, m_diagnostics);
    return kS_OK;
  }

 private:
  std::vector<VideoInput> m_inputs;
  std::size_t m_next = 0;
  const FileSystemView& m_files;
  UvcDeviceOpener& m_devices;
  std::shared_ptr<Diagnostics> m_diagnostics;
};

}  // namespace

LinuxCaptureStack::LinuxCaptureStack(const FileSystemView& files, UvcDeviceOpener& devices)
    : m_files(files), m_devices(devices) {}

HResult LinuxCaptureStack::EnumerateVideoInputs(std::unique_ptr<DeviceEnumeration>& out) {
  out.reset();
  std::vector<VideoInput> inputs;
  if (const int error = ListVideoInputs(m_files, inputs)) {
    m_diagnostics->Add("The video devices could not be listed: " + ErrorText(error));
    return OpenErrorResult(error);
  }
  if (inputs.empty()) return kS_FALSE;
  out = std::make_unique<UvcEnumeration>(std::move(inputs), m_files, m_devices, m_diagnostics);
  return kS_OK;
}

std::vector<VideoInput> LinuxCaptureStack::UnservedVideoFunctions() const {
  return ListUnservedVideoFunctions(m_files);
}

void LinuxCaptureStack::DebugOutput(const wchar_t* text) {
  if (text == nullptr) return;
  std::string line = Utf8Codec().Encode(text);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  m_diagnostics->Add(std::move(line));
}

}  // namespace nerova::link::linux_stack
