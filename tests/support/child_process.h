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

#ifdef _WIN32
#include "platform/win32.h"
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

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
    std::string line = std::string("\"") + self + "\" --gtest_filter=" + test->test_suite_name() +
                       "." + test->name();
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE nul =
        CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION process = {};
    SetEnvironmentVariableA(kVariable, argument.c_str());
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process)) {
      CloseHandle(process.hThread);
      process_ = process.hProcess;
    }
    SetEnvironmentVariableA(kVariable, nullptr);
    CloseHandle(nul);
#else
    pid_ = fork();
    if (pid_ == 0) {
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
    return process_ && WaitForSingleObject(process_, 60000) == WAIT_OBJECT_0;
#else
    if (pid_ <= 0) return false;
    int status = 0;
    for (int i = 0; i < 60000; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
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
    if (!process_) return false;
    const UINT kKilled = 0xDEAD;
    bool running = WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
    TerminateProcess(process_, kKilled);
    WaitForSingleObject(process_, 10000);
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    CloseHandle(process_);
    process_ = nullptr;
    return running && code == kKilled;
#else
    if (pid_ <= 0) return false;
    kill(pid_, SIGKILL);
    int status = 0;
    bool reaped = waitpid(pid_, &status, 0) == pid_;
    pid_ = -1;
    return reaped && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
#endif
  }

 private:
  static constexpr const char* kVariable = "ZU_TEST_CHILD";
#ifdef _WIN32
  HANDLE process_ = nullptr;
#else
  pid_t pid_ = -1;
#endif
};
