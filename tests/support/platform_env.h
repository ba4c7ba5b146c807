// What the tests need from the system under them, the same on Linux (over
// the stand-in) and on Windows: environment variables, native paths, and
// whether that Windows is Wine.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32.h"

namespace platform_env {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

inline void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

inline void UnsetEnv(const char* name) {
#ifdef _WIN32
  _putenv_s(name, "");
#else
  unsetenv(name);
#endif
}

/* path with the platform's separator in place of every '/'. */
inline std::string Native(std::string path) {
  if (kWindows) std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

/* Wine exports wine_get_version from its ntdll; Windows does not. */
inline bool UnderWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
  return false;
#endif
}

/* True under Wine, which departs from Windows' documented behaviour, or
** lacks a documented part of it, as reason says: the caller leaves that
** case out. The reason is printed, so that a run shows what it did not
** check. */
inline bool WineDeparts(const char* reason) {
  if (!UnderWine()) return false;
  std::printf("[ WINE     ] not checked: %s\n", reason);
  return true;
}

/* Under Wine, the Windows version that the program (its file name, as
** "zuadm.exe") sees from its next start: Wine's setting for one program,
** the one winecfg makes. Removed when the object goes; elsewhere nothing. */
class WineVersion {
 public:
  explicit WineVersion(const std::string& program)
      : key_("Software\\Wine\\AppDefaults\\" + program) {}
  ~WineVersion() {
    if (UnderWine()) SHDeleteKeyA(HKEY_CURRENT_USER, key_.c_str());
  }
  WineVersion(const WineVersion&) = delete;
  WineVersion& operator=(const WineVersion&) = delete;

  /* Sets Wine's name of a version ("winxp", "win10"...); false when the
  ** setting could not be written or this is not Wine. */
  bool Set(const std::string& version) const {
    HKEY key = nullptr;
    if (!UnderWine() || RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0,
                                        KEY_SET_VALUE, nullptr, &key, nullptr) != 0) {
      return false;
    }
    LSTATUS status =
        RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                       static_cast<DWORD>(version.size() + 1));
    RegCloseKey(key);
    return status == 0;
  }

 private:
  std::string key_;
};

}  // namespace platform_env
