#pragma once
// Owns one reference to a COM interface. Copies are deleted; Share() adds a
// reference explicitly, so every AddRef is visible where it happens.
#include <cstddef>
#include <utility>

namespace nerova::link::win {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes over a reference the caller already holds.
  static ComPtr Adopt(T* p) { return ComPtr(p); }

  ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      m_p = std::exchange(other.m_p, nullptr);
    }
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { Reset(); }

  ComPtr Share() const {
    if (m_p) m_p->AddRef();
    return ComPtr(m_p);
  }
  void Reset() {
    if (T* p = std::exchange(m_p, nullptr)) p->Release();
  }
  T* Detach() { return std::exchange(m_p, nullptr); }

  // For out parameters: drops what is held and gives the slot to fill.
  T** Put() {
    Reset();
    return &m_p;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

  T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }

 private:
  explicit ComPtr(T* p) : m_p(p) {}
  T* m_p = nullptr;
};

}  // namespace nerova::link::win
