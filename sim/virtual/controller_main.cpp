// virtual-receiver.exe: installs the virtual receivers that lie beside it,
// shows and changes the state of one (the first, or the one `--receiver N`
// names), plugs it in and out, and switches its faults.
// Exit status 0 on success, 1 when the platform refused, 2 on a bad command.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "sim/receiver_firmware.h"
#include "sim/virtual/device_presence.h"
#include "sim/virtual/receiver_record.h"
#include "sim/virtual/shared_receiver.h"

namespace {

using namespace nerova::sim::virtual_receiver;

constexpr int kOk = 0;
constexpr int kRefused = 1;
constexpr int kBadCommand = 2;
// How long a restart cycle waits at most for its receiver to come back.
constexpr std::int64_t kLongestRestartMs = 10 * 60 * 1000;

int Usage() {
  std::fprintf(stderr,
               "usage: virtual-receiver install | uninstall\n"
               "       virtual-receiver [--receiver N] show | log | unplug | plug | reset |\n"
               "                        set KEY VALUE | fault NAME | fault clear\n"
               "  --receiver: 1 (the default) or 2, the second receiver, listed while the first\n"
               "            has the fault second-receiver; each has its own settings, log and presence\n"
               "  set keys: url wifiname wifipassword resolution(WxH) longpresstime agingtest firmware\n"
               "            rssi(dBm or wander) restarttime(ms)\n"
               "  faults:   refuse-set refuse-get long-control short-control no-terminator crlf\n"
               "            node-fails second-receiver restart-unacknowledged restart-refused\n"
               "            vanish-mid-read\n"
               "  restart-unacknowledged: the restart command fails, the receiver restarts anyway\n"
               "  restart-refused: the restart command fails, the receiver does not restart\n"
               "  vanish-mid-read: once, the receiver leaves between the next read's SET and GET\n"
               "            and comes back after its restart time; the fault then clears itself\n");
  return kBadCommand;
}

std::wstring ModuleDirectory() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring directory(path, length);
  return directory.substr(0, directory.find_last_of(L"\\/") + 1);
}

// Calls DllRegisterServer or DllUnregisterServer of the module beside us,
// as regsvr32 does.
int CallRegistration(const char* entry) {
  const std::wstring dll = ModuleDirectory() + L"NerovaVirtualReceiver.dll";
  HMODULE module = LoadLibraryW(dll.c_str());
  if (!module) {
    std::fprintf(stderr, "virtual-receiver: cannot load %ls (error %lu)\n", dll.c_str(), GetLastError());
    return kRefused;
  }
  using Entry = HRESULT(STDAPICALLTYPE*)();
  const auto call = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, entry)));
  const HRESULT hr = call ? call() : E_FAIL;
  FreeLibrary(module);
  if (FAILED(hr)) {
    std::fprintf(stderr, "virtual-receiver: %s failed (0x%08lX)\n", entry, static_cast<unsigned long>(hr));
    return kRefused;
  }
  return kOk;
}

// Runs `change` on the receiver's record under its lock, then brings the
// listings in the video input category in line with the records (the first
// receiver's faults decide whether the second is attached).
template <typename Change>
int Update(const VirtualReceiver& receiver, Change&& change) {
  {
    const ReceiverLock lock(receiver);
    if (!lock.Held()) return kRefused;
    ReceiverRecord record = lock.Load();
    if (!change(record, lock)) return kBadCommand;
    if (!lock.Save(record)) return kRefused;
  }
  return SyncListings() ? kOk : kRefused;
}

void PrintText(const char* key, const std::string& bytes) { std::printf("%s=%s\n", key, bytes.c_str()); }

int Show(const VirtualReceiver& receiver) {
  const ReceiverLock lock(receiver);
  const ReceiverRecord r = lock.Load();
  PrintText("url", r.values.url);
  PrintText("wifiname", r.values.wifiName);
  PrintText("wifipassword", r.values.wifiPassword);
  std::printf("resolution=%dx%d\n", r.values.width, r.values.height);
  std::printf("longpresstime=%d\n", r.values.longPressTime);
  std::printf("agingtest=%d\n", r.values.agingTest);
  PrintText("firmware", r.values.firmwareVersion);
  if (r.pinnedRssi) {
    std::printf("rssi=%d\n", *r.pinnedRssi);
  } else {
    std::printf("rssi=wander\n");
  }
  std::printf("present=%d\n", IsThere(receiver, r, NowMs()) ? 1 : 0);
  return kOk;
}

bool ParseInt(std::string_view text, std::int64_t& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const std::string copy(text);
  out = std::strtoll(copy.c_str(), &end, 10);
  return end && *end == '\0';
}

bool SetValue(ReceiverRecord& r, std::string_view key, std::string_view value) {
  std::int64_t number = 0;
  if (key == "url") {
    r.values.url = value;
  } else if (key == "wifiname") {
    r.values.wifiName = value;
  } else if (key == "wifipassword") {
    r.values.wifiPassword = value;
  } else if (key == "firmware") {
    r.values.firmwareVersion = value;
  } else if (key == "resolution") {
    const std::size_t x = value.find('x');
    std::int64_t width = 0, height = 0;
    if (x == std::string_view::npos || !ParseInt(value.substr(0, x), width) || !ParseInt(value.substr(x + 1), height)) {
      return false;
    }
    r.values.width = static_cast<std::int32_t>(width);
    r.values.height = static_cast<std::int32_t>(height);
  } else if (key == "rssi") {
    if (value == "wander") {
      r.pinnedRssi.reset();
    } else {
      if (!ParseInt(value, number)) return false;
      r.pinnedRssi = static_cast<std::int32_t>(number);
    }
  } else if (key == "longpresstime" || key == "agingtest" || key == "restarttime") {
    if (!ParseInt(value, number) || number < 0) return false;
    if (key == "longpresstime") r.values.longPressTime = static_cast<std::int32_t>(number);
    if (key == "agingtest") r.values.agingTest = static_cast<std::int32_t>(number);
    if (key == "restarttime") r.restartTimeMs = number;
  } else {
    return false;
  }
  return true;
}

// The second half of a restart, in a process of its own: the receiver has
// left; it comes back once its restart time is over (unless it was unplugged
// meanwhile).
int RestartCycle(const VirtualReceiver& receiver) {
  if (!SyncListing(receiver)) return kRefused;
  // The system has told every window of the removal only now (this process
  // may have started late): the restart time runs from here, so the receiver
  // never answers again before its removal is known, as with a real one.
  {
    const ReceiverLock lock(receiver);
    if (!lock.Held()) return kRefused;
    ReceiverRecord record = lock.Load();
    if (record.plugged && record.absentUntilMs != 0) {
      record.absentUntilMs = std::max(record.absentUntilMs, NowMs() + record.restartTimeMs);
      if (!lock.Save(record)) return kRefused;
    }
  }
  const std::int64_t started = NowMs();
  for (;;) {
    ReceiverRecord record;
    {
      const ReceiverLock lock(receiver);
      record = lock.Load();
    }
    if (!record.plugged) return kOk;
    if (record.Present(NowMs())) return SyncListing(receiver) ? kOk : kRefused;
    if (NowMs() - started > kLongestRestartMs) return kRefused;
    Sleep(50);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> args(argv + 1, argv + argc);
  const VirtualReceiver* receiver = &kReceiverDevice;
  const bool receiverNamed = args.size() >= 2 && args[0] == "--receiver";
  if (receiverNamed) {
    std::int64_t number = 0;
    receiver = ParseInt(args[1], number) ? FindReceiver(static_cast<int>(number)) : nullptr;
    if (!receiver) return Usage();
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty()) return Usage();
  const std::string_view command = args[0];

  if (command == "install" && args.size() == 1 && !receiverNamed) return CallRegistration("DllRegisterServer");
  if (command == "uninstall" && args.size() == 1 && !receiverNamed) return CallRegistration("DllUnregisterServer");
  if (command == "show" && args.size() == 1) return Show(*receiver);
  if (command == "log" && args.size() == 1) {
    const ReceiverLock lock(*receiver);
    std::fputs(lock.ReadLog().c_str(), stdout);
    return kOk;
  }
  if (command == "unplug" && args.size() == 1) {
    return Update(*receiver, [](ReceiverRecord& r, const ReceiverLock&) {
      if (r.plugged) ++r.generation;
      r.plugged = false;
      return true;
    });
  }
  if (command == "plug" && args.size() == 1) {
    return Update(*receiver, [](ReceiverRecord& r, const ReceiverLock&) {
      r.plugged = true;
      r.absentUntilMs = 0;
      return true;
    });
  }
  if (command == "reset" && args.size() == 1) {
    return Update(*receiver, [](ReceiverRecord& r, const ReceiverLock& lock) {
      const std::uint32_t generation = r.generation + 1;
      r = ReceiverRecord();
      r.generation = generation;
      lock.ClearLog();
      return true;
    });
  }
  if (command == "set" && args.size() == 3) {
    const int result =
        Update(*receiver, [&](ReceiverRecord& r, const ReceiverLock&) { return SetValue(r, args[1], args[2]); });
    return result == kBadCommand ? Usage() : result;
  }
  if (command == "fault" && args.size() == 2) {
    if (args[1] == "clear") {
      return Update(*receiver, [](ReceiverRecord& r, const ReceiverLock&) {
        r.faults.clear();
        return true;
      });
    }
    // Whether the second receiver is attached is the first one's fault.
    if (!IsFaultName(args[1]) || (args[1] == "second-receiver" && receiver != &kReceiverDevice)) return Usage();
    return Update(*receiver, [&](ReceiverRecord& r, const ReceiverLock&) {
      r.faults.insert(std::string(args[1]));
      return true;
    });
  }
  if (command == "restart-cycle" && args.size() == 1) return RestartCycle(*receiver);
  return Usage();
}
