// A child process of a test that the test can kill at any moment. On Linux
// it is a fork. Windows has no fork: there the test program is started
// again to run the current test alone, with the child's argument in the
// environment variable ZU_TEST_CHILD, and the test begins with
//
//   if (const char* argument = ChildProcess::Argument()) work(argument);
//
// so that the child does its work (and never returns) where the parent
// would go on with the test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "support/process.h"

class ChildProcess {
 public:
  /* The argument of this process when it is such a child, else null. */
  static const char* Argument() { return std::getenv(kVariable); }

  /* Starts a child that calls work(argument). */
  ChildProcess(const std::string& argument, const std::function<void(const char*)>& work) {
#ifdef _WIN32
    (void)work;
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string filter =
        std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    SetEnvironmentVariableA(kVariable, argument.c_str());
    child_ = StartProcess({self, filter}, ".", "", "NUL", "NUL");
    SetEnvironmentVariableA(kVariable, nullptr);
#else
    child_.pid = fork();
    if (child_.pid == 0) {
      work(argument.c_str());
      _exit(0);
    }
#endif
  }
  ~ChildProcess() {
    Kill();
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  /* Waits up to a minute for the child to end of itself; true when it did. */
  bool Finished() {
#ifdef _WIN32
    return child_.handle && WaitForSingleObject(child_.handle, 60000) == WAIT_OBJECT_0 &&
           WaitProcess(child_) == 0;
#else
    for (int i = 0; i < 60000 && child_.pid > 0; ++i) {
      if (waitpid(child_.pid, nullptr, WNOHANG) == child_.pid) {
        child_.pid = -1;
        return true;
      }
      usleep(1000);
    }
    return false;
#endif
  }

  /* Kills the child at once and reaps it; true when it was still running
  ** until then. */
  bool Kill() {
#ifdef _WIN32
    bool running = child_.handle && WaitForSingleObject(child_.handle, 0) == WAIT_TIMEOUT;
#else
    bool running = child_.pid > 0;
#endif
    KillProcess(child_);
    return WaitProcess(child_) == -1 && running;
  }

 private:
  static constexpr const char* kVariable = "ZU_TEST_CHILD";
  StartedProcess child_;
};
