#include "update/firmware_update_launch.h"

#include <utility>

namespace nerova::update {

BOOL LaunchProgram(SHELLEXECUTEINFOW& record) {
  if (LaunchHandler handler = ScopedLaunchHandler::Current()) return handler(record);
  return ShellExecuteExW(&record);
}

}  // namespace nerova::update
