// The kernel32 and C runtime stand-in on real files in a temp dir: what the
// library's own tests do not reach through mystdio and fsutil (search
// patterns, dispositions and their last errors, share modes, 64-bit file
// pointers, message texts, modules, the version structures, named
// mutexes).
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "support/standin_root.h"
#include "support/temp_dir.h"

namespace {

using Names = std::vector<std::string>;

/* The names a search delivers, or the error that stopped it at once. */
Names Search(const std::string& pattern, DWORD* error = nullptr) {
  Names names;
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) {
    if (error) *error = GetLastError();
    return names;
  }
  do names.emplace_back(data.cFileName);
  while (names.size() < 100 && FindNextFileA(search, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(FindClose(search));
  return names;
}

HANDLE Create(const std::string& path, DWORD access, DWORD creation, DWORD share = 0,
              DWORD attributes = FILE_ATTRIBUTE_NORMAL, LPSECURITY_ATTRIBUTES security = nullptr) {
  return CreateFileA(path.c_str(), access, share, security, creation, attributes, nullptr);
}

/* GetLastError as a plain number, so that expectations compare alike. */
long Error() {
  return static_cast<long>(GetLastError());
}

TEST(Kernel32, DirectorySearch) {
  TempDir temp;
  temp.Write("readme", "12345");
  temp.Write("Notes.TXT", "");
  temp.Write("b.txt", "");
  EXPECT_EQ(Search(temp / "*.*"), (Names{".", "..", "b.txt", "Notes.TXT", "readme"}));
  EXPECT_EQ(Search(temp.path() + "\\*.txt"), (Names{"b.txt", "Notes.TXT"}));
  EXPECT_EQ(Search(temp / "?.TXT"), (Names{"b.txt"}));
  EXPECT_EQ(Search(temp / "README"), (Names{"readme"}));
  DWORD error = 0;
  EXPECT_EQ(Search(temp / "*.none", &error), Names{});
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Search(temp / "readme/*", &error), Names{});
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(Kernel32, StatSizeLimit) {
  // Sizes from 2 GiB on fail, as with the Microsoft runtime's _stat.
  TempDir temp;
  temp.Write("file", "");
  struct _stat status;
  std::filesystem::resize_file(temp / "file", 0x7FFFFFFF);
  ASSERT_EQ(_stat((temp.path() + "\\file").c_str(), &status), 0);
  EXPECT_EQ(status.st_size, 0x7FFFFFFF);
  EXPECT_EQ(status.st_mode & _S_IFMT, _S_IFREG);
  std::filesystem::resize_file(temp / "file", 0x80000000ull);
  EXPECT_EQ(_stat((temp / "file").c_str(), &status), -1);
  EXPECT_EQ(errno, EOVERFLOW);
}

TEST(Kernel32, CreateFileDispositions) {
  TempDir temp;
  std::string path = temp / "f";
  HANDLE file = Create(path, GENERIC_WRITE, CREATE_NEW);
  EXPECT_EQ(Error(), NO_ERROR);
  DWORD n = 0;
  EXPECT_TRUE(WriteFile(file, "hello", 5, &n, nullptr));
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_EQ(Error(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(Create(path, GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(Error(), ERROR_FILE_EXISTS);
  CloseHandle(Create(path, GENERIC_READ, OPEN_ALWAYS));
  EXPECT_EQ(Error(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(temp.Read("f"), "hello");
  CloseHandle(Create(path, GENERIC_WRITE, CREATE_ALWAYS));
  EXPECT_EQ(Error(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(temp.Read("f"), "");
  CloseHandle(Create(temp / "new", GENERIC_WRITE, OPEN_ALWAYS));
  EXPECT_EQ(Error(), NO_ERROR);

  temp.Write("f", "data");
  EXPECT_EQ(Create(path, GENERIC_READ, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(Error(), ERROR_INVALID_PARAMETER);
  CloseHandle(Create(path, GENERIC_WRITE, TRUNCATE_EXISTING));
  EXPECT_EQ(temp.Read("f"), "");

  struct Failure {
    std::string path;
    DWORD creation;
    long error;
  } failures[] = {
      {temp / "missing", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
      {temp / "missing", TRUNCATE_EXISTING, ERROR_INVALID_PARAMETER},
      {temp / "nodir/f", CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
      {"", OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
      {temp.path(), OPEN_EXISTING, ERROR_ACCESS_DENIED},
      {path, 0, ERROR_INVALID_PARAMETER},
      {path, 6, ERROR_INVALID_PARAMETER},
  };
  for (const Failure& failure : failures) {
    EXPECT_EQ(Create(failure.path, GENERIC_READ, failure.creation), INVALID_HANDLE_VALUE);
    EXPECT_EQ(Error(), failure.error) << failure.path << " " << failure.creation;
  }

  CloseHandle(Create(temp / "ro", GENERIC_WRITE, CREATE_NEW, 0, FILE_ATTRIBUTE_READONLY));
  auto perms = std::filesystem::status(temp / "ro").permissions();
  EXPECT_EQ(perms & std::filesystem::perms::owner_write, std::filesystem::perms::none);
}

TEST(Kernel32, HandlesAreInheritableOnlyOnRequestAndNeverZero) {
  TempDir temp;
  auto descriptorFlags = [](HANDLE h) {
    return fcntl(static_cast<int>(reinterpret_cast<intptr_t>(h)), F_GETFD);
  };
  HANDLE plain = Create(temp / "f", GENERIC_WRITE, CREATE_ALWAYS);
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE inherited = Create(temp / "g", GENERIC_WRITE, CREATE_ALWAYS, 0, 0, &inherit);
  EXPECT_TRUE(descriptorFlags(plain) & FD_CLOEXEC);
  EXPECT_FALSE(descriptorFlags(inherited) & FD_CLOEXEC);
  CloseHandle(plain);
  CloseHandle(inherited);

  // With standard input closed the lowest free descriptor is 0.
  int savedInput = dup(0);
  close(0);
  HANDLE file = Create(temp / "f", GENERIC_READ, OPEN_EXISTING);
  dup2(savedInput, 0);
  close(savedInput);
  EXPECT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_NE(file, nullptr);
  CloseHandle(file);
}

TEST(Kernel32, FilePointer) {
  TempDir temp;
  HANDLE file = Create(temp / "f", GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(file, "hello", 5, &n, nullptr));
  EXPECT_EQ(SetFilePointer(file, -2, nullptr, FILE_END), 3u);
  EXPECT_EQ(SetFilePointer(file, -4, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(Error(), ERROR_NEGATIVE_SEEK);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 3u);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, 3), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(Error(), ERROR_INVALID_PARAMETER);

  // Positions past 4 GiB need the high part; 0xFFFFFFFF is a valid low part.
  LONG high = 1;
  EXPECT_EQ(SetFilePointer(file, 16, &high, FILE_BEGIN), 16u);
  EXPECT_EQ(high, 1);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(Error(), ERROR_INVALID_PARAMETER);
  high = 0;
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetFilePointer(file, -1, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(Error(), NO_ERROR);
  char buffer[8];
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &n, nullptr));
  EXPECT_EQ(n, 0u);
  CloseHandle(file);
  EXPECT_FALSE(ReadFile(nullptr, buffer, 1, &n, nullptr));
  EXPECT_EQ(Error(), ERROR_INVALID_HANDLE);
}

TEST(Kernel32, ShareModes) {
  TempDir temp;
  std::string path = temp / "f";
  const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE;
  HANDLE exclusive = Create(path, GENERIC_READ, CREATE_NEW, 0);
  EXPECT_EQ(Create(path, GENERIC_READ, OPEN_EXISTING, all), INVALID_HANDLE_VALUE);
  EXPECT_EQ(Error(), ERROR_SHARING_VIOLATION);
  CloseHandle(exclusive);

  // A new handle must share what the open ones do, and they what it does.
  HANDLE reader = Create(path, GENERIC_READ, OPEN_EXISTING, all);
  HANDLE writer = Create(path, GENERIC_WRITE, OPEN_EXISTING, all);
  EXPECT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Create(path, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
  EXPECT_EQ(Create(path, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_WRITE), INVALID_HANDLE_VALUE);
  CloseHandle(writer);
  HANDLE readersOnly = Create(path, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ);
  EXPECT_NE(readersOnly, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Create(path, GENERIC_WRITE, OPEN_EXISTING, all), INVALID_HANDLE_VALUE);
  CloseHandle(readersOnly);
  CloseHandle(reader);
  HANDLE alone = Create(path, GENERIC_WRITE, OPEN_EXISTING, 0);
  EXPECT_NE(alone, INVALID_HANDLE_VALUE);
  CloseHandle(alone);
}

TEST(Kernel32, MessageTexts) {
  char text[64];
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  EXPECT_EQ(FormatMessageA(flags, nullptr, 2, 0x409, text, 45, nullptr), 44u);
  EXPECT_STREQ(text, "The system cannot find the file specified.\r\n");
  EXPECT_EQ(FormatMessageA(flags, nullptr, 2, 0, text, 44, nullptr), 0u);
  EXPECT_EQ(Error(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(FormatMessageA(flags, nullptr, 99999, 0, text, sizeof text, nullptr), 0u);
  EXPECT_EQ(Error(), ERROR_MR_MID_NOT_FOUND);
  EXPECT_EQ(FormatMessageA(flags, nullptr, 2, 0x416, text, sizeof text, nullptr), 0u);
  EXPECT_EQ(Error(), ERROR_RESOURCE_LANG_NOT_FOUND);
  EXPECT_EQ(FormatMessageA(flags | 0x100, nullptr, 2, 0, text, sizeof text, nullptr), 0u);
  EXPECT_EQ(Error(), ERROR_INVALID_PARAMETER);
}

using Kernel32Configured = StandinRootTest;

// A named mutex between processes: one owner at a time, a wait that times
// out, counted ownership, and an owner killed while it holds the mutex.
TEST_F(Kernel32Configured, NamedMutexes) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, "Global\\zu-test");
  ASSERT_NE(mutex, nullptr);
  EXPECT_FALSE(ReleaseMutex(mutex));
  EXPECT_EQ(Error(), ERROR_NOT_OWNER);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(ReleaseMutex(mutex));

  // A child waits in vain while this process owns it, then owns it and is
  // killed holding it.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HANDLE other = CreateMutexA(nullptr, FALSE, "Global\\zu-test");
    char report = WaitForSingleObject(other, 50) == WAIT_TIMEOUT ? 't' : 'x';
    if (write(ready[1], &report, 1) != 1) _exit(1);
    report = WaitForSingleObject(other, 10000) == WAIT_OBJECT_0 ? 'o' : 'x';
    if (write(ready[1], &report, 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char report = 0;
  ASSERT_EQ(read(ready[0], &report, 1), 1);
  EXPECT_EQ(report, 't');
  EXPECT_TRUE(ReleaseMutex(mutex));  // was owned once
  ASSERT_EQ(read(ready[0], &report, 1), 1);
  EXPECT_EQ(report, 'o');
  EXPECT_EQ(WaitForSingleObject(mutex, 20), static_cast<DWORD>(WAIT_TIMEOUT));
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(ready[0]);
  EXPECT_EQ(WaitForSingleObject(mutex, 10000), static_cast<DWORD>(WAIT_ABANDONED));
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_TRUE(CloseHandle(mutex));
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_FAILED);
  EXPECT_EQ(CreateMutexA(nullptr, FALSE, nullptr), nullptr);
}

TEST_F(Kernel32Configured, Modules) {
  HMODULE kernel = LoadLibraryA("kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  EXPECT_EQ(LoadLibraryA("KERNEL32"), kernel);
  EXPECT_EQ(GetModuleHandleA("C:\\Windows\\System32\\Kernel32.DLL"), kernel);
  EXPECT_EQ(reinterpret_cast<void (*)()>(GetProcAddress(kernel, "GetNativeSystemInfo")),
            reinterpret_cast<void (*)()>(&GetNativeSystemInfo));
  EXPECT_EQ(GetProcAddress(kernel, "getnativesysteminfo"), nullptr);
  EXPECT_EQ(Error(), ERROR_PROC_NOT_FOUND);
  EXPECT_TRUE(FreeLibrary(kernel));
  EXPECT_EQ(LoadLibraryA("nosuch.dll"), nullptr);
  EXPECT_EQ(Error(), ERROR_MOD_NOT_FOUND);
  int notModule = 0;
  EXPECT_FALSE(FreeLibrary(reinterpret_cast<HMODULE>(&notModule)));
  EXPECT_EQ(Error(), ERROR_INVALID_HANDLE);
}

TEST_F(Kernel32Configured, VersionStructures) {
  // The plain structure is filled without touching what follows it (the
  // extended one is the library's, tested with WindowsVersionCode).
  Configure("windows.version=6.1.7601\nwindows.product_type=server\n");
  OSVERSIONINFOEXA plain{};
  plain.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  plain.wProductType = 0x55;
  ASSERT_TRUE(GetVersionExA(&plain));
  EXPECT_EQ(plain.dwMinorVersion, 1u);
  EXPECT_EQ(plain.wProductType, 0x55);
  plain.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA) - 1;
  EXPECT_FALSE(GetVersionExA(&plain));
  EXPECT_EQ(Error(), ERROR_INSUFFICIENT_BUFFER);

  Configure("windows.processor=sparc\n");
  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_UNKNOWN);
  EXPECT_GT(info.dwPageSize, 0u);
  EXPECT_GE(info.dwNumberOfProcessors, 1u);
}

}  // namespace
