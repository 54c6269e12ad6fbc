#pragma once

#include <filesystem>
#include <string>

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

}  // namespace kelvo::testing
