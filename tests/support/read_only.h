#pragma once

#include <filesystem>

namespace kelvo::testing {

// Makes a file or folder read-only even for root, who ignores permission bits: the write
// permissions go and, where the file system allows, the immutable attribute comes. A folder
// then takes no new file, while the files in it may still be written. Undone when the object
// goes, so that the file can be removed.
class ReadOnly {
 public:
  explicit ReadOnly(std::filesystem::path path);
  ~ReadOnly();
  ReadOnly(const ReadOnly&) = delete;
  ReadOnly& operator=(const ReadOnly&) = delete;

  // True when even this process can no longer write it.
  bool Holds() const;

 private:
  bool SetImmutable(bool immutable) const;
  std::filesystem::path path_;
  std::filesystem::perms perms_;
  bool immutable_ = false;
};

}  // namespace kelvo::testing
