#pragma once
// The one virtual receiver that every process of a Wine prefix (or Windows
// session) sees: its record and its transfer log live in files under the
// common application data folder, and a named mutex lets one process at a
// time read and change them.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_stack.h"
#include "sim/virtual/receiver_record.h"

namespace nerova::sim::virtual_receiver {

// The instance names under which the receiver (and the second one that the
// "second-receiver" fault adds) is listed in the video input category. They
// carry the receiver's USB identity, as a device's display name does.
inline constexpr wchar_t kInstanceName[] = L"usb#vid_1d6b&pid_010c&mi_00#nerova-virtual-receiver";
inline constexpr wchar_t kSecondInstanceName[] = L"usb#vid_1d6b&pid_010c&mi_00#nerova-virtual-receiver-2";
inline constexpr wchar_t kFriendlyName[] = L"Nerova Wireless Receiver (virtual)";

// Each receiver as a USB device in the system's device tree: its serial
// number (the last part of its instance id), its video function's instance
// (as Windows generates one), and its port as the USB hub driver describes it.
struct VirtualUsbDevice {
  const wchar_t* instanceName;  // in the video input category
  const wchar_t* serial;
  const wchar_t* functionInstance;
  const wchar_t* locationPath;
  const wchar_t* locationInformation;
};
inline constexpr VirtualUsbDevice kReceiverDevice = {kInstanceName, L"NRV20261001", L"7&1D6B0001&0&0000",
                                                     L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)", L"Port_#0001.Hub_#0001"};
inline constexpr VirtualUsbDevice kSecondReceiverDevice = {kSecondInstanceName, L"NRV20261002", L"7&1D6B0002&0&0000",
                                                           L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)",
                                                           L"Port_#0002.Hub_#0001"};

// {5E3A9C41-7B2D-4F08-A6C3-19D84E0B7F52}: the filter class.
inline constexpr GUID kVirtualReceiverClsid = {
    0x5E3A9C41, 0x7B2D, 0x4F08, {0xA6, 0xC3, 0x19, 0xD8, 0x4E, 0x0B, 0x7F, 0x52}};

// The system time in milliseconds since 1601.
std::int64_t NowMs();

// Holds the cross-process lock while it lives (waits for it, bounded).
class ReceiverLock {
 public:
  ReceiverLock();
  ~ReceiverLock();
  ReceiverLock(const ReceiverLock&) = delete;
  ReceiverLock& operator=(const ReceiverLock&) = delete;
  bool Held() const { return m_bHeld; }

  // The record as stored; the factory state when there is none yet.
  ReceiverRecord Load() const;
  bool Save(const ReceiverRecord& record) const;
  void AppendLog(const std::vector<TransferRecord>& transfers) const;
  std::string ReadLog() const;
  void ClearLog() const;

 private:
  HANDLE m_hMutex = nullptr;
  bool m_bHeld = false;
};

}  // namespace nerova::sim::virtual_receiver
