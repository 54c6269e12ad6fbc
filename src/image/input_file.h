#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kelvo {

// Why a file could not be opened.
enum class FileError { kNone, kNoSuchFile, kFolder, kNotAFile, kPermissionDenied, kInUse, kOther };

// The line that says why, in the words of the port's ("no such file: fw.bin").
std::string FileFailureCause(FileError error, const std::string& path);

// The image or script file of a transfer, opened for reading only and locked against writers
// (a program that holds it exclusively) meanwhile. Other transfers may read it at the same time:
// a production line loads one image into several devices at once. A default-constructed file
// is the invalid handle.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&& other) noexcept;

  static InputFile Open(const std::string& path);

  bool IsOpen() const { return fd_ >= 0; }
  // Why Open failed; kNone for an open file.
  FileError Error() const { return error_; }
  std::uint64_t Size() const;
  // Reads on from the current position until buffer is full or the file ends; returns the
  // count read. A failed read returns what came before it and sets Failed().
  std::size_t Read(std::span<std::uint8_t> buffer);
  bool Failed() const { return failed_; }
  void Close();

 private:
  int fd_ = -1;
  bool failed_ = false;
  FileError error_ = FileError::kNone;
};

}  // namespace kelvo
