// The kernel32 and C runtime stand-in calls on real files in a temp dir:
// directory search, file status, files through handles, message texts.
#include <fcntl.h>
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

std::vector<std::string> Search(const std::string& pattern, DWORD* error = nullptr) {
  std::vector<std::string> names;
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

TEST(Kernel32, DirectorySearch) {
  TempDir temp;
  temp.Write("readme", "12345");
  temp.Write("Notes.TXT", "");
  temp.Write("b.txt", "");
  using Names = std::vector<std::string>;
  EXPECT_EQ(Search(temp / "*"), (Names{".", "..", "b.txt", "Notes.TXT", "readme"}));
  EXPECT_EQ(Search(temp / "*.*"), (Names{".", "..", "b.txt", "Notes.TXT", "readme"}));
  EXPECT_EQ(Search(temp.path() + "\\*.txt"), (Names{"b.txt", "Notes.TXT"}));
  EXPECT_EQ(Search(temp / "?.TXT"), (Names{"b.txt"}));
  EXPECT_EQ(Search(temp / "README"), (Names{"readme"}));

  DWORD error = 0;
  EXPECT_EQ(Search(temp / "*.none", &error), Names{});
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Search(temp / "nodir/*", &error), Names{});
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Search(temp / "readme/*", &error), Names{});
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(FindNextFileA(INVALID_HANDLE_VALUE, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Kernel32, FindDataAttributes) {
  TempDir temp;
  temp.Write("file", std::string(300, 'x'));
  temp.Write("locked", "");
  std::filesystem::permissions(temp / "locked", std::filesystem::perms::owner_read);
  temp.MakeDir("dir");
  std::filesystem::create_symlink(temp / "file", temp / "link");
  std::filesystem::create_symlink(temp / "gone", temp / "dangling");

  auto find = [&](const char* name) {
    WIN32_FIND_DATAA data{};
    HANDLE search = FindFirstFileA((temp / name).c_str(), &data);
    EXPECT_NE(search, INVALID_HANDLE_VALUE) << name;
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    return data;
  };
  WIN32_FIND_DATAA file = find("file");
  EXPECT_EQ(file.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(file.nFileSizeLow, 300u);
  EXPECT_EQ(file.nFileSizeHigh, 0u);
  EXPECT_NE(file.ftLastWriteTime.dwHighDateTime, 0u);
  EXPECT_EQ(find("locked").dwFileAttributes,
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(find("dir").dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  WIN32_FIND_DATAA link = find("link");
  EXPECT_EQ(link.dwFileAttributes,
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT));
  EXPECT_EQ(link.dwReserved0, static_cast<DWORD>(IO_REPARSE_TAG_SYMLINK));
  EXPECT_EQ(link.nFileSizeLow, 300u);
  EXPECT_EQ(find("dangling").dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT));
}

TEST(Msvcrt, StatAndChdir) {
  TempDir temp;
  temp.Write("file", "abc");
  temp.MakeDir("dir");
  struct _stat status;
  ASSERT_EQ(_stat((temp.path() + "\\file").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & _S_IFMT, _S_IFREG);
  EXPECT_EQ(status.st_size, 3);
  ASSERT_EQ(_stat((temp / "dir").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & _S_IFMT, _S_IFDIR);
  EXPECT_EQ(status.st_mode & 0700, _S_IREAD | _S_IWRITE | _S_IEXEC);
  errno = 0;
  EXPECT_EQ(_stat((temp / "missing").c_str(), &status), -1);
  EXPECT_EQ(errno, ENOENT);

  // Sizes beyond 32 bits fail as with the Microsoft runtime's _stat.
  std::filesystem::resize_file(temp / "file", 0x7FFFFFFF);
  ASSERT_EQ(_stat((temp / "file").c_str(), &status), 0);
  EXPECT_EQ(status.st_size, 0x7FFFFFFF);
  std::filesystem::resize_file(temp / "file", 0x80000000ull);
  EXPECT_EQ(_stat((temp / "file").c_str(), &status), -1);
  EXPECT_EQ(errno, EOVERFLOW);

  std::filesystem::path before = std::filesystem::current_path();
  EXPECT_EQ(_chdir((temp.path() + "\\dir").c_str()), 0);
  EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(temp / "dir"));
  EXPECT_EQ(_chdir((temp / "missing").c_str()), -1);
  std::filesystem::current_path(before);
}

HANDLE Create(const std::string& path, DWORD access, DWORD creation, DWORD share = 0,
              DWORD attributes = FILE_ATTRIBUTE_NORMAL, LPSECURITY_ATTRIBUTES security = nullptr) {
  return CreateFileA(path.c_str(), access, share, security, creation, attributes, nullptr);
}

DWORD LastError() {
  return GetLastError();
}

TEST(Kernel32, CreateFileDispositions) {
  TempDir temp;
  const DWORD rw = GENERIC_READ | GENERIC_WRITE;
  std::string path = temp / "f";
  HANDLE file = Create(path, rw, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(LastError(), 0u);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, "hello", 5, &written, nullptr));
  EXPECT_EQ(written, 5u);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(Create(path, rw, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));

  file = Create(temp.path() + "\\f", GENERIC_READ, OPEN_ALWAYS);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(file);
  EXPECT_EQ(temp.Read("f"), "hello");
  file = Create(path, GENERIC_WRITE, CREATE_ALWAYS);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(file);
  EXPECT_EQ(temp.Read("f"), "");
  file = Create(temp / "new", GENERIC_WRITE, OPEN_ALWAYS);
  EXPECT_EQ(LastError(), 0u);
  CloseHandle(file);

  temp.Write("f", "data");
  EXPECT_EQ(Create(path, GENERIC_READ, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  CloseHandle(Create(path, GENERIC_WRITE, TRUNCATE_EXISTING));
  EXPECT_EQ(temp.Read("f"), "");
  EXPECT_EQ(Create(temp / "missing", GENERIC_WRITE, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  EXPECT_EQ(Create(temp / "missing", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Create(temp / "nodir/f", GENERIC_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Create("", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Create(temp.path(), GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Create(path, GENERIC_READ, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(Create(path, GENERIC_READ, 6), INVALID_HANDLE_VALUE);

  // A read-only attribute makes a read-only file.
  CloseHandle(Create(temp / "ro", GENERIC_WRITE, CREATE_NEW, 0, FILE_ATTRIBUTE_READONLY));
  auto perms = std::filesystem::status(temp / "ro").permissions();
  EXPECT_EQ(perms & std::filesystem::perms::owner_write, std::filesystem::perms::none);
}

TEST(Kernel32, HandlesAreInheritableOnlyOnRequestAndNeverZero) {
  TempDir temp;
  HANDLE plain = Create(temp / "f", GENERIC_WRITE, CREATE_ALWAYS);
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE inherited = Create(temp / "g", GENERIC_WRITE, CREATE_ALWAYS, 0, 0, &inherit);
  auto fdFlags = [](HANDLE h) {
    return fcntl(static_cast<int>(reinterpret_cast<intptr_t>(h)), F_GETFD);
  };
  EXPECT_TRUE(fdFlags(plain) & FD_CLOEXEC);
  EXPECT_FALSE(fdFlags(inherited) & FD_CLOEXEC);
  CloseHandle(plain);
  CloseHandle(inherited);

  // With standard input closed the lowest descriptor is 0; it is not handed out.
  int savedInput = dup(0);
  close(0);
  HANDLE file = Create(temp / "f", GENERIC_READ, OPEN_EXISTING);
  dup2(savedInput, 0);
  close(savedInput);
  EXPECT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_NE(file, nullptr);
  CloseHandle(file);
  DWORD n = 0;
  EXPECT_FALSE(ReadFile(nullptr, &n, 1, &n, nullptr));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Kernel32, ReadWriteAndFilePointer) {
  TempDir temp;
  HANDLE file = Create(temp / "f", GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(file, "hello", 5, &n, nullptr));
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 5u);
  EXPECT_EQ(SetFilePointer(file, -2, nullptr, FILE_END), 3u);
  EXPECT_EQ(SetFilePointer(file, 1, nullptr, FILE_BEGIN), 1u);
  char buffer[16] = {};
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &n, nullptr));
  EXPECT_EQ(std::string(buffer, n), "ello");
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &n, nullptr));
  EXPECT_EQ(n, 0u);

  EXPECT_EQ(SetFilePointer(file, -6, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 5u);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, 3), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  // Positions past 4 GiB need the high part; 0xFFFFFFFF is a valid low part.
  LONG high = 1;
  EXPECT_EQ(SetFilePointer(file, 16, &high, FILE_BEGIN), 16u);
  EXPECT_EQ(high, 1);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  high = 0;
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetFilePointer(file, -1, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(LastError(), static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(high, 0);
  EXPECT_EQ(SetFilePointer(file, 0xFFFF, nullptr, FILE_BEGIN), 0xFFFFu);
  CloseHandle(file);

  // Reading a write-only handle and writing a read-only one are refused.
  HANDLE writeOnly = Create(temp / "f", GENERIC_WRITE, OPEN_EXISTING, FILE_SHARE_READ);
  EXPECT_FALSE(ReadFile(writeOnly, buffer, 1, &n, nullptr));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  HANDLE readOnly = Create(temp / "f", GENERIC_READ, OPEN_EXISTING, FILE_SHARE_WRITE);
  EXPECT_FALSE(WriteFile(readOnly, "x", 1, &n, nullptr));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  OVERLAPPED* overlapped = reinterpret_cast<OVERLAPPED*>(buffer);
  EXPECT_FALSE(ReadFile(readOnly, buffer, 1, &n, overlapped));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  CloseHandle(writeOnly);
  CloseHandle(readOnly);
}

TEST(Kernel32, ShareModes) {
  TempDir temp;
  std::string path = temp / "f";
  const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE;
  HANDLE exclusive = Create(path, GENERIC_READ, CREATE_NEW, 0);
  EXPECT_EQ(Create(path, GENERIC_READ, OPEN_EXISTING, all), INVALID_HANDLE_VALUE);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  CloseHandle(exclusive);

  HANDLE reader = Create(path, GENERIC_READ, OPEN_EXISTING, all);
  HANDLE writer = Create(path, GENERIC_WRITE, OPEN_EXISTING, all);
  EXPECT_NE(writer, INVALID_HANDLE_VALUE);
  // A new handle must share what the open ones do.
  EXPECT_EQ(Create(path, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
  EXPECT_EQ(Create(path, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_WRITE), INVALID_HANDLE_VALUE);
  HANDLE third = Create(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, all);
  EXPECT_NE(third, INVALID_HANDLE_VALUE);
  CloseHandle(third);
  CloseHandle(writer);
  HANDLE readersOnly = Create(path, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ);
  EXPECT_NE(readersOnly, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Create(path, GENERIC_WRITE, OPEN_EXISTING, all), INVALID_HANDLE_VALUE);
  CloseHandle(readersOnly);
  CloseHandle(reader);
  HANDLE again = Create(path, GENERIC_WRITE, OPEN_EXISTING, 0);
  EXPECT_NE(again, INVALID_HANDLE_VALUE);
  CloseHandle(again);
}

TEST(Kernel32, MessageTexts) {
  char text[64];
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  const std::string notFound = "The system cannot find the file specified.\r\n";
  EXPECT_EQ(FormatMessageA(flags, nullptr, ERROR_FILE_NOT_FOUND, LANG_USER_DEFAULT, text,
                           notFound.size() + 1, nullptr),
            notFound.size());
  EXPECT_EQ(text, notFound);
  EXPECT_EQ(
      FormatMessageA(flags, nullptr, ERROR_FILE_NOT_FOUND, 0x409, text, notFound.size(), nullptr),
      0u);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(FormatMessageA(flags, nullptr, 99999, 0, text, sizeof text, nullptr), 0u);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
  EXPECT_EQ(FormatMessageA(flags, nullptr, 2, 0x416, text, sizeof text, nullptr), 0u);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND));
  EXPECT_EQ(FormatMessageA(flags | 0x100, nullptr, 2, 0, text, sizeof text, nullptr), 0u);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxA(nullptr, "corpo \xe9", "T\xedtulo", MB_OK | MB_ICONERROR), IDOK);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "T\xedtulo: corpo \xe9\n");
}

using Kernel32Configured = StandinRootTest;

TEST_F(Kernel32Configured, Modules) {
  HMODULE kernel = LoadLibraryA("kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  EXPECT_EQ(LoadLibraryA("KERNEL32"), kernel);
  EXPECT_EQ(GetModuleHandleA("C:\\Windows\\System32\\Kernel32.DLL"), kernel);
  FARPROC entry = GetProcAddress(kernel, "GetNativeSystemInfo");
  EXPECT_EQ(reinterpret_cast<void (*)()>(entry),
            reinterpret_cast<void (*)()>(&GetNativeSystemInfo));
  EXPECT_EQ(GetProcAddress(kernel, "getnativesysteminfo"), nullptr);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(GetProcAddress(kernel, reinterpret_cast<LPCSTR>(1)), nullptr);
  EXPECT_TRUE(FreeLibrary(kernel));

  Configure("kernel32.GetNativeSystemInfo=0\n");
  EXPECT_EQ(GetProcAddress(kernel, "GetNativeSystemInfo"), nullptr);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));

  EXPECT_EQ(LoadLibraryA("nosuch.dll"), nullptr);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  HMODULE program = GetModuleHandleA(nullptr);
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(GetProcAddress(program, "GetNativeSystemInfo"), nullptr);
  int notModule = 0;
  EXPECT_FALSE(FreeLibrary(reinterpret_cast<HMODULE>(&notModule)));
  EXPECT_EQ(GetProcAddress(reinterpret_cast<HMODULE>(&notModule), "x"), nullptr);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(Kernel32Configured, VersionAndSystemInfo) {
  Configure(
      "windows.version=6.1.7601\nwindows.product_type=server\n"
      "windows.service_pack=Service Pack 1\nwindows.processor=x64\n"
      "windows.process_processor=x86\n");
  OSVERSIONINFOEXA extended{};
  extended.dwOSVersionInfoSize = sizeof extended;
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&extended)));
  EXPECT_EQ(extended.dwMajorVersion, 6u);
  EXPECT_EQ(extended.dwMinorVersion, 1u);
  EXPECT_EQ(extended.dwBuildNumber, 7601u);
  EXPECT_EQ(extended.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  EXPECT_STREQ(extended.szCSDVersion, "Service Pack 1");
  EXPECT_EQ(extended.wServicePackMajor, 1);
  EXPECT_EQ(extended.wProductType, VER_NT_SERVER);

  // The plain structure is filled without touching what follows it.
  OSVERSIONINFOEXA plain{};
  plain.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  plain.wProductType = 0x55;
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&plain)));
  EXPECT_EQ(plain.dwBuildNumber, 7601u);
  EXPECT_EQ(plain.wProductType, 0x55);
  plain.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA) - 1;
  EXPECT_FALSE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&plain)));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  Configure("windows.version=6\n");
  EXPECT_FALSE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&extended)));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_DATA));

  Configure("windows.processor=x64\nwindows.process_processor=x86\n");
  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64);
  EXPECT_GT(info.dwPageSize, 0u);
  EXPECT_GE(info.dwNumberOfProcessors, 1u);
  EXPECT_EQ(info.dwAllocationGranularity, 65536u);
  GetSystemInfo(&info);
  EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_INTEL);
  Configure("windows.processor=12\n");
  GetSystemInfo(&info);
  EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_ARM64);
  Configure("windows.processor=sparc\n");
  GetNativeSystemInfo(&info);
  EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_UNKNOWN);
}

}  // namespace
