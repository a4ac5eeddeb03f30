#pragma once
// How each virtual receiver comes and goes: whether it is there, its entry in
// the video input category (what the system device enumerator lists) and the
// device-interface notices of the video-camera class that Windows broadcasts
// when a camera is removed or arrives.
#include <cstdint>

#include "sim/virtual/receiver_record.h"
#include "sim/virtual/shared_receiver.h"

namespace nerova::sim::virtual_receiver {

// Whether `receiver`, whose record is `record`, is there at `nowMs`: plugged
// in and not restarting, and the second receiver only while the first has
// the "second-receiver" fault. Called with the receiver's lock held; for the
// second receiver it takes the first's for a moment (never the other way
// round).
bool IsThere(const VirtualReceiver& receiver, const ReceiverRecord& record, std::int64_t nowMs);

// Makes the receiver's listing match its record, deciding and changing it
// under the receiver's lock, so that processes syncing at once (a restart
// ending while a tester plugs in) leave it as the latest record says. Lists
// the filter class under the receiver's instance name through IFilterMapper2,
// or the same registry layout where that is refused, naming its capture
// interface in the device tree as its DevicePath; removal takes it out of the
// category and marks that interface not present. Sends the notice when the
// listing changed. False when the lock could not be had.
bool SyncListing(const VirtualReceiver& receiver);
// Every receiver.
bool SyncListings();
// Takes the receiver out of the category whatever its record says, with the
// notice if it was listed.
void Unlist(const VirtualReceiver& receiver);

}  // namespace nerova::sim::virtual_receiver
