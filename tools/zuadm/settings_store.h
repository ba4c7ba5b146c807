/*
** One interface over the two settings stores, so that zuadm's commands and
** its record reader and writer are written once. RegKey (the registry) and
** RegValueStore (Values.xml files) agree by operation names, not by a base
** class; StoreAdapter<S> maps those names onto this interface and evens out
** the two small differences: RegKey's Open takes an access flag and its
** setters return an error code. Only the stores' public operations are
** used.
*/
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>

#include "misc/stringlist.h"
#include "misc/zustring.h"
#include "platform/win32.h"
#include "settings/regkey.h"
#include "settings/regvaluestore.h"

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  /* Opens the key at path, a key path from the root without a leading
  ** backslash; true when the key is open. */
  virtual bool Open(const zustring& path, bool create, bool writable) = 0;
  virtual void Close() = 0;
  virtual zustring GetString(const char* name) = 0;
  virtual uint32_t GetInteger(const char* name) = 0;
  /* What the open key holds under name; the getters alone cannot tell. */
  virtual ValueKind GetKind(const char* name) = 0;
  virtual bool SetString(const char* name, const zustring& text) = 0;
  virtual bool SetInteger(const char* name, uint32_t value) = 0;
  virtual bool DeleteValue(const char* name) = 0;
  virtual bool DeleteSubKey(const char* name) = 0;
  virtual void EnumSubKeys(StringList& names) = 0;
  virtual void EnumValues(StringList& names) = 0;
  /* Gives the open key the path newPath (from the root, no leading
  ** backslash). */
  virtual bool Rename(const zustring& newPath) = 0;
};

template <class Store>
class StoreAdapter : public SettingsStore {
 public:
  explicit StoreAdapter(HKEY root) { store_.Root = root; }

  bool Open(const zustring& path, bool create, bool writable) override {
    zustring absolute = zustring("\\") + path;
    if constexpr (requires { store_.Open(absolute, create, writable); }) {
      return store_.Open(absolute, create, writable);
    } else {
      return store_.Open(absolute, create);
    }
  }
  void Close() override { store_.Close(); }
  zustring GetString(const char* name) override { return store_.GetString(name); }
  uint32_t GetInteger(const char* name) override { return store_.GetInteger(name); }
  ValueKind GetKind(const char* name) override { return store_.GetKind(name); }
  bool SetString(const char* name, const zustring& text) override {
    return Succeeded([&] { return store_.SetString(name, text); });
  }
  bool SetInteger(const char* name, uint32_t value) override {
    return Succeeded([&] { return store_.SetInteger(name, value); });
  }
  bool DeleteValue(const char* name) override { return store_.DeleteValue(name); }
  bool DeleteSubKey(const char* name) override { return store_.DeleteSubKey(name); }
  void EnumSubKeys(StringList& names) override { store_.EnumSubKeys(names); }
  void EnumValues(StringList& names) override { store_.EnumValues(names); }
  bool Rename(const zustring& newPath) override { return store_.Rename(zustring("\\") + newPath); }

 private:
  /* A setter's result: an error code (0 is success) or nothing. */
  template <class Call>
  static bool Succeeded(Call call) {
    if constexpr (std::is_void_v<decltype(call())>) {
      call();
      return true;
    } else {
      return call() == 0;
    }
  }

  Store store_;
};
