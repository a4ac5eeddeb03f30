#pragma once
// An open registry key, closed when the owner goes; copies deleted.
#include <windows.h>

#include <string>

namespace nerova::sim::virtual_receiver {

class RegistryKey {
 public:
  // Opens (or with `create`, creates) HKEY_CLASSES_ROOT\path.
  RegistryKey(const std::wstring& path, REGSAM access, bool create)
      : RegistryKey(HKEY_CLASSES_ROOT, path, access, create) {}
  RegistryKey(HKEY root, const std::wstring& path, REGSAM access, bool create) {
    const LSTATUS status = create ? RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, access, nullptr, &m_hKey, nullptr)
                                  : RegOpenKeyExW(root, path.c_str(), 0, access, &m_hKey);
    if (status != ERROR_SUCCESS) m_hKey = nullptr;
  }
  ~RegistryKey() {
    if (m_hKey) RegCloseKey(m_hKey);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  explicit operator bool() const { return m_hKey != nullptr; }
  // A string value; null `name` for the key's default value.
  bool SetString(const wchar_t* name, const std::wstring& value) const {
    return m_hKey && RegSetValueExW(m_hKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                    static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }
  bool SetDword(const wchar_t* name, DWORD value) const {
    return m_hKey && RegSetValueExW(m_hKey, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
                         ERROR_SUCCESS;
  }

 private:
  HKEY m_hKey = nullptr;
};

}  // namespace nerova::sim::virtual_receiver
