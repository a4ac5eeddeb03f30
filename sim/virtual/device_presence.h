#pragma once
// How the virtual receiver comes and goes: its entry in the video input
// category (what the system device enumerator lists) and the device-interface
// notices of the video-camera class that Windows broadcasts when a camera is
// removed or arrives.
#include <string>

#include "sim/virtual/shared_receiver.h"

namespace nerova::sim::virtual_receiver {

// Lists the filter class under the receiver's instance name in the video
// input category, through IFilterMapper2, or the same registry layout where
// that is refused, naming its capture interface in the device tree as its
// DevicePath. Removal takes it out of the category and marks that interface
// not present.
bool ListInCategory(const VirtualUsbDevice& receiver);
void RemoveFromCategory(const VirtualUsbDevice& receiver);
bool IsListed(const wchar_t* instanceName);

// WM_DEVICECHANGE with DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE and the
// receiver's camera interface, sent to every top-level window and waited for
// (bounded), as the system does.
void BroadcastDeviceNotice(bool arrival);

// Makes the listing match the record: both receivers listed while plugged in
// and not restarting (the second only with its fault), none otherwise.
// Sends the notices for what changed.
void SyncListing(bool present, bool second);

}  // namespace nerova::sim::virtual_receiver
