// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes, with helpers for whole files.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

/* The bytes of the file at path, or, with text, what a text-mode reader
** sees (on Windows, CR LF reads as LF). */
inline std::string FileBytes(const std::string& path, bool text = false) {
  std::ifstream in(path, text ? std::ios::in : std::ios::in | std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class TempDir {
 public:
  TempDir() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::filesystem::path candidate =
          std::filesystem::temp_directory_path() / ("zu-test-" + std::to_string(random()));
      if (std::filesystem::create_directory(candidate)) {
        path_ = candidate.string();
        return;
      }
    }
    std::abort();
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  /* The path of name inside the directory. */
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(*this / name, std::ios::binary) << bytes;
  }
  std::string Read(const std::string& name) const { return FileBytes(*this / name); }
  std::string ReadText(const std::string& name) const { return FileBytes(*this / name, true); }
  void MakeDir(const std::string& name) const { std::filesystem::create_directories(*this / name); }

 private:
  std::string path_;
};
