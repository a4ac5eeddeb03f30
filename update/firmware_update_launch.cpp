#include "update/firmware_update_launch.h"

#include <mutex>
#include <utility>

namespace nerova::update {

namespace {

std::mutex g_handlerMutex;
LaunchHandler g_handler;  // guarded by g_handlerMutex

LaunchHandler CurrentHandler() {
  std::lock_guard lock(g_handlerMutex);
  return g_handler;
}

}  // namespace

BOOL LaunchProgram(SHELLEXECUTEINFOW& record) {
  if (LaunchHandler handler = CurrentHandler()) return handler(record);
  return ShellExecuteExW(&record);
}

ScopedLaunchHandler::ScopedLaunchHandler(LaunchHandler handler) {
  std::lock_guard lock(g_handlerMutex);
  m_previous = std::exchange(g_handler, std::move(handler));
}

ScopedLaunchHandler::~ScopedLaunchHandler() {
  std::lock_guard lock(g_handlerMutex);
  g_handler = std::move(m_previous);
}

}  // namespace nerova::update
