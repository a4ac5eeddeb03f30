#include "link/linux/sysfs_video_inputs.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <map>
#include <optional>
#include <string_view>
#include <utility>

#include "link/utf8_codec.h"

namespace nerova::link::linux_stack {
namespace {

constexpr char kClassDirectory[] = "/sys/class/video4linux";
constexpr char kNodePrefix[] = "video";
constexpr char kUsbDevicesDirectory[] = "/sys/bus/usb/devices";
constexpr char kVideoDriver[] = "uvcvideo";
// bInterfaceClass and bInterfaceSubClass of a VideoControl interface.
constexpr unsigned kVideoClass = 0x0E;
constexpr unsigned kVideoControlSubclass = 0x01;

bool IsBlank(char c) { return c == '\n' || c == ' '; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

template <typename Number>
std::optional<Number> ParseNumber(std::string_view text, int base) {
  text = Trimmed(text);
  Number value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

template <typename Number>
std::optional<Number> ReadNumber(const FileSystemView& files, const std::string& path, int base) {
  std::string content;
  if (files.ReadFile(path, content) != 0) return std::nullopt;
  return ParseNumber<Number>(content, base);
}

std::string_view LastComponent(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string Parent(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::wstring Hex(unsigned value, int digits) {
  static constexpr wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring text(static_cast<std::size_t>(digits), L'0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4) text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
  return text;
}

// Sysfs names and device paths are ASCII; anything else is carried byte by byte.
std::wstring Widened(std::string_view text) {
  std::wstring wide;
  for (char c : text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return wide;
}

// The identity as Windows shows it, then the USB device's place on the bus.
std::wstring DisplayName(const SysfsVideoInput& input) {
  return L"usb#vid_" + Hex(input.vendorId, 4) + L"&pid_" + Hex(input.productId, 4) + L"&mi_" +
         Hex(input.interfaceNumber, 2) + L"#" + Widened(LastComponent(input.usbDevicePath));
}

// The kernel keeps a device's string descriptors in UTF-8.
std::wstring ReadText(const FileSystemView& files, const std::string& path) {
  std::string content;
  if (files.ReadFile(path, content) != 0) return {};
  return DecodeUtf8(Trimmed(content));
}

// Reads the numbers of the VideoControl interface at `interfacePath` and of
// its USB device into `input`, with the device's serial number and port;
// false when a number is missing.
bool ReadUsbIdentity(const FileSystemView& files, SysfsVideoInput& input) {
  const auto interfaceNumber = ReadNumber<std::uint8_t>(files, input.interfacePath + "/bInterfaceNumber", 16);
  input.usbDevicePath = Parent(input.interfacePath);
  const auto vendor = ReadNumber<std::uint16_t>(files, input.usbDevicePath + "/idVendor", 16);
  const auto product = ReadNumber<std::uint16_t>(files, input.usbDevicePath + "/idProduct", 16);
  if (!interfaceNumber || !vendor || !product) return false;
  input.interfaceNumber = *interfaceNumber;
  input.vendorId = *vendor;
  input.productId = *product;
  input.displayName = DisplayName(input);
  input.serial = ReadText(files, input.usbDevicePath + "/serial");
  input.port = Widened(LastComponent(input.usbDevicePath));
  return true;
}

bool ServedByVideoDriver(const FileSystemView& files, const std::string& interfacePath) {
  std::string driver;
  return files.ResolvePath(interfacePath + "/driver", driver) == 0 && LastComponent(driver) == kVideoDriver;
}

struct Candidate {
  SysfsVideoInput input;
  unsigned index = UINT_MAX;  // the node's "index"; missing ones come last
  unsigned number = 0;        // N of videoN
};

std::optional<Candidate> Inspect(const FileSystemView& files, const std::string& name) {
  if (name.rfind(kNodePrefix, 0) != 0) return std::nullopt;
  const std::optional<unsigned> number =
      ParseNumber<unsigned>(std::string_view(name).substr(sizeof(kNodePrefix) - 1), 10);
  if (!number) return std::nullopt;
  const std::string node = std::string(kClassDirectory) + "/" + name;

  Candidate c;
  c.number = *number;
  if (files.ResolvePath(node + "/device", c.input.interfacePath) != 0) return std::nullopt;
  if (!ServedByVideoDriver(files, c.input.interfacePath) || !ReadUsbIdentity(files, c.input)) return std::nullopt;
  c.index = ReadNumber<unsigned>(files, node + "/index", 10).value_or(UINT_MAX);
  c.input.nodePath = "/dev/" + name;
  return c;
}

}  // namespace

int ListSysfsVideoInputs(const FileSystemView& files, std::vector<SysfsVideoInput>& inputs) {
  inputs.clear();
  std::vector<std::string> names;
  if (const int error = files.ListDirectory(kClassDirectory, names); error != 0) {
    return error == ENOENT ? 0 : error;
  }

  std::map<std::string, Candidate> byInterface;
  for (const std::string& name : names) {
    std::optional<Candidate> c = Inspect(files, name);
    if (!c) continue;
    auto [it, added] = byInterface.try_emplace(c->input.interfacePath, *c);
    const Candidate& held = it->second;
    if (!added && std::pair(c->index, c->number) < std::pair(held.index, held.number)) {
      it->second = std::move(*c);
    }
  }

  std::map<unsigned, SysfsVideoInput> byNumber;
  for (auto& [path, c] : byInterface) byNumber.emplace(c.number, std::move(c.input));
  for (auto& [number, input] : byNumber) inputs.push_back(std::move(input));
  return 0;
}

std::vector<SysfsVideoInput> ListUnservedVideoFunctions(const FileSystemView& files) {
  std::vector<SysfsVideoInput> unserved;
  std::vector<std::string> names;
  if (files.ListDirectory(kUsbDevicesDirectory, names) != 0) return unserved;
  for (const std::string& name : names) {
    // Interfaces are named "<device>:<configuration>.<interface>".
    if (name.find(':') == std::string::npos) continue;
    SysfsVideoInput input;
    if (files.ResolvePath(std::string(kUsbDevicesDirectory) + "/" + name, input.interfacePath) != 0) continue;
    if (ReadNumber<unsigned>(files, input.interfacePath + "/bInterfaceClass", 16) != kVideoClass ||
        ReadNumber<unsigned>(files, input.interfacePath + "/bInterfaceSubClass", 16) != kVideoControlSubclass) {
      continue;
    }
    if (ServedByVideoDriver(files, input.interfacePath) || !ReadUsbIdentity(files, input)) continue;
    unserved.push_back(std::move(input));
  }
  return unserved;
}

}  // namespace nerova::link::linux_stack
