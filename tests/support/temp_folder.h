#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kelvo::testing {

// A new, empty folder of its own under the system's temporary directory, removed with
// everything in it when the object goes.
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// All the bytes of the file at path; none when it cannot be read.
std::string FileContents(const std::filesystem::path& path);

void WriteFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

}  // namespace kelvo::testing
