#pragma once
// Owners of the Win32 handles the program uses: the COM apartment of a
// thread, kernel handles, memory the system allocated with LocalAlloc, GDI
// objects, window and paint device contexts, and an object selected into a
// device context for one scope. Copies are deleted; kernel handles, local
// memory and GDI objects move.
#include <windows.h>
#include <objbase.h>

#include <utility>

namespace nerova::ui {

// CoInitialize for the calling thread (single-threaded apartment) and the
// matching CoUninitialize, which is only owed when the initialisation
// succeeded (S_FALSE, "already initialised", counts as success).
class ComApartment {
 public:
  ComApartment() : m_result(CoInitialize(nullptr)) {}
  ~ComApartment() {
    if (SUCCEEDED(m_result)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

  HRESULT Result() const { return m_result; }

 private:
  HRESULT m_result;
};

// A kernel object handle (thread, process, event) closed with CloseHandle;
// null when empty.
class KernelHandle {
 public:
  KernelHandle() = default;
  explicit KernelHandle(HANDLE handle) : m_handle(handle) {}
  ~KernelHandle() { Reset(); }
  KernelHandle(KernelHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
  KernelHandle& operator=(KernelHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      m_handle = std::exchange(other.m_handle, nullptr);
    }
    return *this;
  }
  KernelHandle(const KernelHandle&) = delete;
  KernelHandle& operator=(const KernelHandle&) = delete;

  HANDLE Get() const { return m_handle; }
  explicit operator bool() const { return m_handle != nullptr; }
  void Reset() {
    if (m_handle) CloseHandle(std::exchange(m_handle, nullptr));
  }

 private:
  HANDLE m_handle = nullptr;
};

// Memory the system allocated for the caller with LocalAlloc (a security
// descriptor, a SID's text), freed with LocalFree; null when empty.
class LocalMemory {
 public:
  LocalMemory() = default;
  explicit LocalMemory(void* memory) : m_memory(memory) {}
  ~LocalMemory() {
    if (m_memory) LocalFree(m_memory);
  }
  LocalMemory(LocalMemory&& other) noexcept : m_memory(std::exchange(other.m_memory, nullptr)) {}
  LocalMemory& operator=(LocalMemory&& other) noexcept {
    if (this != &other) {
      if (m_memory) LocalFree(m_memory);
      m_memory = std::exchange(other.m_memory, nullptr);
    }
    return *this;
  }
  LocalMemory(const LocalMemory&) = delete;
  LocalMemory& operator=(const LocalMemory&) = delete;

  void* Get() const { return m_memory; }
  explicit operator bool() const { return m_memory != nullptr; }

 private:
  void* m_memory = nullptr;
};

// A GDI object (font, brush, pen, bitmap, region) deleted with DeleteObject.
template <class Handle>
class GdiObject {
 public:
  GdiObject() = default;
  explicit GdiObject(Handle handle) : m_handle(handle) {}
  ~GdiObject() { Reset(); }
  GdiObject(GdiObject&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
  GdiObject& operator=(GdiObject&& other) noexcept {
    if (this != &other) {
      Reset();
      m_handle = std::exchange(other.m_handle, nullptr);
    }
    return *this;
  }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;

  Handle Get() const { return m_handle; }
  explicit operator bool() const { return m_handle != nullptr; }
  void Reset(Handle handle = nullptr) {
    if (m_handle) DeleteObject(m_handle);
    m_handle = handle;
  }

 private:
  Handle m_handle = nullptr;
};

using Font = GdiObject<HFONT>;
using Brush = GdiObject<HBRUSH>;

// GetDC / ReleaseDC of a window's client area.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : m_window(window), m_dc(GetDC(window)) {}
  ~WindowDc() {
    if (m_dc) ReleaseDC(m_window, m_dc);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;

  HDC Get() const { return m_dc; }

 private:
  HWND m_window;
  HDC m_dc;
};

// BeginPaint / EndPaint: the answer to one WM_PAINT of `window`.
class PaintScope {
 public:
  explicit PaintScope(HWND window) : m_window(window), m_dc(BeginPaint(window, &m_paint)) {}
  ~PaintScope() {
    if (m_dc) EndPaint(m_window, &m_paint);
  }
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;

  HDC Dc() const { return m_dc; }
  const PAINTSTRUCT& Paint() const { return m_paint; }

 private:
  HWND m_window;
  PAINTSTRUCT m_paint{};
  HDC m_dc;
};

// Selects an object into a device context and puts the previous one back.
class SelectScope {
 public:
  SelectScope(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(SelectObject(dc, object)) {}
  ~SelectScope() {
    if (m_previous && m_previous != HGDI_ERROR) SelectObject(m_dc, m_previous);
  }
  SelectScope(const SelectScope&) = delete;
  SelectScope& operator=(const SelectScope&) = delete;

 private:
  HDC m_dc;
  HGDIOBJ m_previous;
};

}  // namespace nerova::ui
