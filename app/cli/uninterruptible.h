#pragma once
// A configuration that has begun to go out to a receiver goes out whole: a
// receiver left with some of its blocks written and no restart holds a
// mixture of two configurations. The span from the last look at an
// interrupt before the first write to the restart command having gone out
// is marked here, for the interrupts that end the process as soon as their
// handler returns (a console window closed on Windows): such a handler
// waits for the span's end.
#include <chrono>

namespace nerova::cli {

// While one lives, a configuration is going out. Begun before the command
// last looks at its interrupt flag, so that a handler that set the flag and
// then finds none going out knows that none will begin.
class ConfigurationGoingOut {
 public:
  ConfigurationGoingOut();
  ~ConfigurationGoingOut();
  ConfigurationGoingOut(const ConfigurationGoingOut&) = delete;
  ConfigurationGoingOut& operator=(const ConfigurationGoingOut&) = delete;
};

// Waits, on any thread, until no configuration is going out, at most `limit`.
void WaitUntilNoConfigurationGoingOut(std::chrono::milliseconds limit);

}  // namespace nerova::cli
