// A private platform state for a test. On Linux that is the stand-in's root
// directory (ZU_WIN32_ROOT: its registry, certificate stores and
// standin.conf) moved to a temp dir. On Windows the system keeps that state;
// the registry is made private by redirecting HKEY_CURRENT_USER (and
// HKEY_LOCAL_MACHINE, unless the test uses the system's cryptographic
// providers, which are registered there), for this process, to fresh keys
// that go with the test, or, for the child processes of a test, by deleting
// the keys they added. The current user's certificate stores and keys are
// kept in the registry too, so they are private with it.
#pragma once

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "support/platform_env.h"
#include "support/temp_dir.h"

class PrivateRegistry {
 public:
  enum Scope { kUserAndMachine, kUserOnly };

  explicit PrivateRegistry(const std::string& standinRoot, Scope scope = kUserAndMachine) {
    platform_env::SetEnv("ZU_WIN32_ROOT", standinRoot);
#ifdef _WIN32
    path_ = "Software\\zu-tests\\" + std::to_string(std::random_device()());
    user_ = Create(path_ + "\\user");
    RegOverridePredefKey(HKEY_CURRENT_USER, user_);
    if (scope == kUserAndMachine) {
      machine_ = Create(path_ + "\\machine");
      RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine_);
    }
#else
    (void)scope;
#endif
  }
  ~PrivateRegistry() {
#ifdef _WIN32
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegCloseKey(user_);
    if (machine_) {
      RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
      RegCloseKey(machine_);
    }
    SHDeleteKeyA(HKEY_CURRENT_USER, path_.c_str());
#endif
    platform_env::UnsetEnv("ZU_WIN32_ROOT");
  }
  PrivateRegistry(const PrivateRegistry&) = delete;
  PrivateRegistry& operator=(const PrivateRegistry&) = delete;

#ifdef _WIN32
 private:
  static HKEY Create(const std::string& path) {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    return key;
  }
  std::string path_;
  HKEY user_ = nullptr;
  HKEY machine_ = nullptr;
#endif
};

/* For a test whose child processes use the registry: on Linux they share
** the stand-in root standinRoot; on Windows they use the system's registry,
** and the keys added at the top of HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE
** while the object lives are deleted when it goes. Such tests take turns
** there, through a mutex of the session, as test programs run in parallel. */
class SharedRegistry {
 public:
  explicit SharedRegistry(const std::string& standinRoot) {
    platform_env::SetEnv("ZU_WIN32_ROOT", standinRoot);
#ifdef _WIN32
    turn_ = CreateMutexA(nullptr, FALSE, "zu-tests-shared-registry");
    const DWORD kWaitMilliseconds = 600000;
    DWORD waited = WaitForSingleObject(turn_, kWaitMilliseconds);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
      ADD_FAILURE() << "another test kept the registry for ten minutes";
    }
    user_ = SubKeys(HKEY_CURRENT_USER);
    machine_ = SubKeys(HKEY_LOCAL_MACHINE);
#endif
  }
  ~SharedRegistry() {
#ifdef _WIN32
    for (auto [root, before] :
         {std::pair{HKEY_CURRENT_USER, &user_}, {HKEY_LOCAL_MACHINE, &machine_}}) {
      for (const std::string& name : SubKeys(root)) {
        if (!before->count(name)) SHDeleteKeyA(root, name.c_str());
      }
    }
    ReleaseMutex(turn_);
    CloseHandle(turn_);
#endif
    platform_env::UnsetEnv("ZU_WIN32_ROOT");
  }
  SharedRegistry(const SharedRegistry&) = delete;
  SharedRegistry& operator=(const SharedRegistry&) = delete;

#ifdef _WIN32
 private:
  static std::set<std::string> SubKeys(HKEY root) {
    std::set<std::string> names;
    char name[256];
    for (DWORD i = 0; i < 100000; ++i) {
      DWORD length = sizeof name;
      if (RegEnumKeyExA(root, i, name, &length, nullptr, nullptr, nullptr, nullptr) != 0) break;
      names.insert(name);
    }
    return names;
  }
  HANDLE turn_ = nullptr;
  std::set<std::string> user_, machine_;
#endif
};

/* A fixture whose test describes the machine in the stand-in's
** standin.conf. On Windows the system reports its own machine, so such a
** test does not run there. */
class StandinRootTest : public testing::Test {
 protected:
  void SetUp() override {
    if (platform_env::kWindows) {
      GTEST_SKIP() << "sets the machine the stand-in reports (standin.conf); Windows reports "
                      "its own";
    }
  }
  /* Replaces standin.conf with these name=value lines. */
  void Configure(const std::string& lines) { root.Write("standin.conf", lines); }

  TempDir root;
  PrivateRegistry registry{root.path()};
};
