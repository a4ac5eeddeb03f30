#include "ui/escaped_exception.h"

#include <windows.h>

#include <exception>

namespace nerova::ui {

void ReportEscapedException(const char* where) noexcept {
  try {
    throw;
  } catch (const std::exception& e) {
    OutputDebugStringA("nerova: exception in ");
    OutputDebugStringA(where);
    OutputDebugStringA(": ");
    OutputDebugStringA(e.what());
    OutputDebugStringA("\n");
  } catch (...) {
    OutputDebugStringA("nerova: unknown exception in ");
    OutputDebugStringA(where);
    OutputDebugStringA("\n");
  }
}

}  // namespace nerova::ui
