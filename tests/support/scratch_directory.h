#pragma once

#include <filesystem>
#include <string>
#include <vector>

// A fresh empty directory, removed with its contents on destruction.
class ScratchDirectory {
public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory &) = delete;
  ScratchDirectory &operator=(const ScratchDirectory &) = delete;

  const std::filesystem::path &path() const { return path_; }
  // Writes `bytes` to a file in the directory and returns its path.
  std::filesystem::path write(const std::string &name, const std::string &bytes) const;

private:
  std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path &path);
std::vector<std::string> readLines(const std::filesystem::path &path);
