#include "link/linux/linux_capture_stack.h"

#include <array>
#include <cerrno>
#include <system_error>

#include "link/linux/errno_status.h"
#include "link/linux/sysfs_video_inputs.h"
#include "link/linux/uvc_descriptors.h"
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

const char* RequestName(UvcRequest request) {
  switch (request) {
    case UvcRequest::GetLen:
      return "GET_LEN";
    case UvcRequest::GetCur:
      return "GET_CUR";
    case UvcRequest::SetCur:
      return "SET_CUR";
    case UvcRequest::GetInfo:
      return "GET_INFO";
  }
  return "query";
}

// What an opened node's units share, so that they stay usable whatever
// order they are released in.
struct OpenNode {
  std::string nodePath;
  std::unique_ptr<UvcDevice> device;
  std::shared_ptr<Diagnostics> diagnostics;
};

class UvcExtensionUnit final : public ExtensionUnit {
 public:
  UvcExtensionUnit(std::shared_ptr<OpenNode> node, std::uint8_t unitId) : m_node(std::move(node)), m_unitId(unitId) {}

  LinkStatus Query(std::uint8_t selector, UvcRequest request, std::uint8_t* data, std::uint32_t size,
                   std::uint32_t& transferred) override {
    transferred = 0;
    // The driver's transfers carry at most 65535 bytes.
    if (size > 0xFFFF) return QueryStatus(EINVAL);
    const int error = m_node->device->Query(m_unitId, selector, static_cast<std::uint8_t>(request),
                                            static_cast<std::uint16_t>(size), data);
    if (error == 0) {
      transferred = size;
      return LinkStatus::Success();
    }
    if (error == ENOBUFS && request != UvcRequest::GetLen) {
      TellControlSize(selector, size);
    } else if (!IsKnownError(error)) {
      m_node->diagnostics->Add(m_node->nodePath + ": " + RequestName(request) + " of unit " +
                               std::to_string(m_unitId) + " control " + std::to_string(selector) +
                               " failed: " + ErrorText(error) + " (errno " + std::to_string(error) + ")");
    }
    return QueryStatus(error);
  }

 private:
  // uvcvideo refuses a query whose size is not the control's (GET_LEN's
  // answer) with ENOBUFS, before anything reaches the device: the control is
  // not the one this program speaks, which no retry changes.
  void TellControlSize(std::uint8_t selector, std::uint32_t size) {
    std::string held = "another size";
    std::array<std::uint8_t, 2> length{};
    if (m_node->device->Query(m_unitId, selector, static_cast<std::uint8_t>(UvcRequest::GetLen), 2,
                              length.data()) == 0) {
      held = std::to_string(length[0] | (length[1] << 8)) + " bytes";
    }
    m_node->diagnostics->AddProblem(DeviceProblemKind::ControlSize,
                                    m_node->nodePath + ": control " + std::to_string(selector) + " of unit " +
                                        std::to_string(m_unitId) + " holds " + held + ", not the " +
                                        std::to_string(size) + " bytes of this program's command blocks");
  }

  std::shared_ptr<OpenNode> m_node;
  std::uint8_t m_unitId;
};

class UvcVideoDevice final : public VideoDevice {
 public:
  UvcVideoDevice(std::shared_ptr<OpenNode> node, std::vector<UvcEntity> entities)
      : m_node(std::move(node)), m_entities(std::move(entities)) {}

  // The descriptors say which entities are extension units, so both kinds
  // of search find the same unit.
  LinkStatus FindExtensionUnit(const Guid& unit, UnitSearch, std::unique_ptr<ExtensionUnit>& out) override {
    out.reset();
    for (const UvcEntity& entity : m_entities) {
      if (entity.kind != UvcEntityKind::ExtensionUnit || entity.extensionCode != unit) continue;
      out = std::make_unique<UvcExtensionUnit>(m_node, entity.id);
      return LinkStatus::Success();
    }
    return LinkStatus::Of(StatusKind::NotFound);
  }

 private:
  std::shared_ptr<OpenNode> m_node;
  // As they were when the node was opened, as Windows reads them when the
  // device starts.
  std::vector<UvcEntity> m_entities;
};

class UvcInput final : public VideoInput {
 public:
  UvcInput(SysfsVideoInput input, const FileSystemView& files, UvcDeviceOpener& devices,
           std::shared_ptr<Diagnostics> diagnostics)
      : m_input(std::move(input)), m_files(files), m_devices(devices), m_diagnostics(std::move(diagnostics)) {}

  LinkStatus Name(VideoInputName& out) override {
    out = NameOf(m_input);
    return LinkStatus::Success();
  }

  LinkStatus Open(DeviceRef& out) override {
    out.reset();
    std::string descriptors;
    if (const int error = m_files.ReadFile(m_input.usbDevicePath + "/descriptors", descriptors)) {
      m_diagnostics->Add(m_input.usbDevicePath + "/descriptors could not be read: " + ErrorText(error));
      return OpenStatus(error);
    }
    auto node = std::make_shared<OpenNode>();
    node->nodePath = m_input.nodePath;
    node->diagnostics = m_diagnostics;
    if (const int error = m_devices.Open(m_input.nodePath, node->device)) {
      if (error == EACCES || error == EPERM) {
        m_diagnostics->AddProblem(DeviceProblemKind::NotAccessible,
                                  AccessAdvice(m_input.nodePath, m_devices.OwningGroup(m_input.nodePath)));
      } else {
        m_diagnostics->Add(m_input.nodePath + " could not be opened: " + ErrorText(error));
      }
      return OpenStatus(error);
    }
    if (!node->device) return LinkStatus::Of(StatusKind::Failed);
    out = std::make_shared<UvcVideoDevice>(std::move(node),
                                           ParseVideoControlEntities(descriptors, m_input.interfaceNumber));
    return LinkStatus::Success();
  }

 private:
  SysfsVideoInput m_input;
  const FileSystemView& m_files;
  UvcDeviceOpener& m_devices;
  std::shared_ptr<Diagnostics> m_diagnostics;
};

class UvcInputList final : public VideoInputList {
 public:
  UvcInputList(std::vector<SysfsVideoInput> inputs, const FileSystemView& files, UvcDeviceOpener& devices,
               std::shared_ptr<Diagnostics> diagnostics)
      : m_inputs(std::move(inputs)), m_files(files), m_devices(devices), m_diagnostics(std::move(diagnostics)) {}

  bool Next(std::unique_ptr<link::VideoInput>& out) override {
    out.reset();
    if (m_next >= m_inputs.size()) return false;
    out = std::make_unique<UvcInput>(m_inputs[m_next++], m_files, m_devices, m_diagnostics);
    return true;
  }

 private:
  std::vector<SysfsVideoInput> m_inputs;
  std::size_t m_next = 0;
  const FileSystemView& m_files;
  UvcDeviceOpener& m_devices;
  std::shared_ptr<Diagnostics> m_diagnostics;
};

}  // namespace

VideoInputName NameOf(const SysfsVideoInput& input) {
  return {input.displayName, UsbIdentity{input.vendorId, input.productId}, input.serial, input.port};
}

LinuxCaptureStack::LinuxCaptureStack(const FileSystemView& files, UvcDeviceOpener& devices)
    : m_files(files), m_devices(devices) {}

LinkStatus LinuxCaptureStack::ListVideoInputs(std::unique_ptr<VideoInputList>& out) {
  out.reset();
  std::vector<SysfsVideoInput> inputs;
  if (const int error = ListSysfsVideoInputs(m_files, inputs)) {
    m_diagnostics->Add("The video devices could not be listed: " + ErrorText(error));
    return OpenStatus(error);
  }
  out = std::make_unique<UvcInputList>(std::move(inputs), m_files, m_devices, m_diagnostics);
  return LinkStatus::Success();
}

std::vector<SysfsVideoInput> LinuxCaptureStack::UnservedVideoFunctions() const {
  return ListUnservedVideoFunctions(m_files);
}

void LinuxCaptureStack::DebugOutput(const wchar_t* text) {
  if (text == nullptr) return;
  std::string line = Utf8Codec().Encode(text);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  m_diagnostics->Add(std::move(line));
}

}  // namespace nerova::link::linux_stack
