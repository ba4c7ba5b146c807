// Runs a program to its end, as a user would from a shell, the same on
// Linux and on Windows; and starts Linux shell scripts, which a Windows
// test reaches under Wine.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include "platform/win32.h"
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

/* Runs argv[0] with the other arguments in the directory dir, its standard
** output and error written to the files out and err. Returns its exit code,
** or -1 when it could not start or did not exit normally (on Windows also
** when it was still running after two minutes; it is ended then). */
inline int RunProcess(const std::vector<std::string>& argv, const std::string& dir,
                      const std::string& out, const std::string& err) {
#ifdef _WIN32
  const DWORD kLimitMilliseconds = 120000;
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
  startup.hStdInput = open("NUL", GENERIC_READ, OPEN_EXISTING);
  startup.hStdOutput = open(out, GENERIC_WRITE, CREATE_ALWAYS);
  startup.hStdError = open(err, GENERIC_WRITE, CREATE_ALWAYS);
  PROCESS_INFORMATION process = {};
  BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                dir.c_str(), &startup, &process);
  for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  if (!started) return -1;
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.hProcess, kLimitMilliseconds) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, code);
    WaitForSingleObject(process.hProcess, 10000);
  } else if (!GetExitCodeProcess(process.hProcess, &code)) {
    code = static_cast<DWORD>(-1);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
#else
  pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    int output = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int error = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int input = open("/dev/null", O_RDONLY);
    if (chdir(dir.c_str()) != 0 || output < 0 || error < 0 || input < 0) _exit(127);
    dup2(input, 0);
    dup2(output, 1);
    dup2(error, 2);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
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
