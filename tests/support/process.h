// Runs a program as a user would from a shell, the same on Linux and on
// Windows: to its end, or started and then waited for or killed; and
// starts Linux shell scripts, which a Windows test reaches under Wine.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include "platform/win32.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

/* A program started by StartProcess. */
struct StartedProcess {
#ifdef _WIN32
  HANDLE handle = nullptr;
#else
  pid_t pid = -1;
#endif
};

/* Starts argv[0] with the other arguments in the directory dir, its
** standard input read from the file in ("" for none) and its output and
** error written to the files out and err. fileSizeLimit, when not 0, limits
** the size of every file it writes, as a full disk would (Linux only). */
inline StartedProcess StartProcess(const std::vector<std::string>& argv, const std::string& dir,
                                   const std::string& in, const std::string& out,
                                   const std::string& err, unsigned long fileSizeLimit = 0) {
  StartedProcess started;
#ifdef _WIN32
  (void)fileSizeLimit;
  // The command line under the rules by which a Windows program splits it:
  // each argument quoted, backslashes doubled only in front of a quote.
  std::string line;
  for (const std::string& arg : argv) {
    if (!line.empty()) line += ' ';
    line += '"';
    size_t backslashes = 0;
    for (char c : arg) {
      if (c == '\\') {
        ++backslashes;
        continue;
      }
      line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
      backslashes = 0;
      line += c;
    }
    line.append(2 * backslashes, '\\');
    line += '"';
  }
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  auto open = [&](const std::string& path, DWORD access, DWORD creation) {
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, creation,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = open(in.empty() ? "NUL" : in, GENERIC_READ, OPEN_EXISTING);
  startup.hStdOutput = open(out, GENERIC_WRITE, CREATE_ALWAYS);
  startup.hStdError = open(err, GENERIC_WRITE, CREATE_ALWAYS);
  PROCESS_INFORMATION process = {};
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, dir.c_str(),
                     &startup, &process)) {
    CloseHandle(process.hThread);
    started.handle = process.hProcess;
  }
  for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
#else
  // All the child needs is made before fork: another thread of the test may
  // hold a lock that the child would wait for.
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const char* input = in.empty() ? "/dev/null" : in.c_str();
  rlimit limit = {fileSizeLimit, fileSizeLimit};
  started.pid = fork();
  if (started.pid == 0) {
    int files[3] = {open(input, O_RDONLY), open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
                    open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)};
    if (chdir(dir.c_str()) != 0 || files[0] < 0 || files[1] < 0 || files[2] < 0) _exit(127);
    for (int i = 0; i < 3; ++i) dup2(files[i], i);
    if (fileSizeLimit) {
      signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    execv(args[0], args.data());
    _exit(127);
  }
#endif
  return started;
}

/* Waits for a started program; its exit code, or -1 when it could not
** start or did not exit of itself (on Windows also when it still ran after
** two minutes; it is ended then). */
inline int WaitProcess(StartedProcess& started) {
#ifdef _WIN32
  const DWORD kLimitMilliseconds = 120000;
  if (!started.handle) return -1;
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(started.handle, kLimitMilliseconds) != WAIT_OBJECT_0) {
    TerminateProcess(started.handle, code);
    WaitForSingleObject(started.handle, 10000);
  } else if (!GetExitCodeProcess(started.handle, &code)) {
    code = static_cast<DWORD>(-1);
  }
  CloseHandle(started.handle);
  started.handle = nullptr;
  return static_cast<int>(code);
#else
  int status = 0;
  if (started.pid <= 0 || waitpid(started.pid, &status, 0) != started.pid) return -1;
  started.pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

/* Kills a started program at once, wherever it stands. */
inline void KillProcess(StartedProcess& started) {
#ifdef _WIN32
  const UINT kKilled = static_cast<UINT>(-1);
  if (started.handle) TerminateProcess(started.handle, kKilled);
#else
  if (started.pid > 0) kill(started.pid, SIGKILL);
#endif
}

/* Runs a program to its end: StartProcess without input, then WaitProcess. */
inline int RunProcess(const std::vector<std::string>& argv, const std::string& dir,
                      const std::string& out, const std::string& err) {
  StartedProcess started = StartProcess(argv, dir, "", out, err);
  return WaitProcess(started);
}

/* The path as Linux programs see it: under Wine, Wine's name of the file
** (which need not exist yet); "" when no Linux is there (Windows itself). */
inline std::string UnixPath(const std::string& path) {
#ifdef _WIN32
  using ToUnix = char*(CDECL*)(LPCWSTR);
  auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (!toUnix) return "";
  std::wstring wide(path.size() + 1, L'\0');
  wide.resize(
      MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), static_cast<int>(wide.size())));
  char* unix = wide.empty() ? nullptr : toUnix(wide.c_str());
  if (!unix) return "";
  std::string result = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
#else
  return std::filesystem::absolute(path).string();
#endif
}

/* Starts /bin/sh on the script file and returns without waiting; the
** shell is nobody's child to wait for (under Wine, whose handle of a Linux
** process cannot be waited for, and here alike), so it tells the test
** what it did through files. */
inline bool StartShellScript(const std::string& script) {
#ifdef _WIN32
  std::string line = "/bin/sh \"" + UnixPath(script) + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
#else
  pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    // The shell's parent leaves at once: the shell is adopted by init.
    if (fork() == 0) {
      setsid();
      execl("/bin/sh", "sh", script.c_str(), static_cast<char*>(nullptr));
    }
    _exit(0);
  }
  int status = 0;
  return waitpid(child, &status, 0) == child;
#endif
}
