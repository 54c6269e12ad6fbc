#include <numeric>

#include "image/image_records.h"
#include "image/printf_text.h"
#include "image/record_lines.h"

namespace kelvo {
namespace {

enum RecordType : unsigned {
  kData,
  kEndOfFile,
  kSegmentAddress,
  kSegmentStart,
  kLinearAddress,
  kLinearStart
};

// The data bytes each type but kData must have.
constexpr std::size_t kTypeLength[] = {0, 0, 2, 4, 2, 4};

// The record in bytes: count, address high and low, type, data, checksum.
class HexRecordReader {
 public:
  // Why the line is no well-formed record with a right checksum, or "".
  std::string Check(std::string_view record) {
    if (std::string error = HexBytes(record.substr(1), 2, bytes_); !error.empty()) return error;
    if (bytes_.size() < 5) return "the record is too short for a count, an address and a type";
    const std::size_t count = bytes_[0];
    if (bytes_.size() != count + 5) {
      return Printf("the byte count says %zu data bytes, the record holds %zu", count,
                    bytes_.size() - 5);
    }
    const unsigned sum = std::accumulate(bytes_.begin(), bytes_.end() - 1, 0u);
    const unsigned wanted = (0x100 - sum % 0x100) % 0x100;
    if (bytes_.back() != wanted) {
      return Printf("the checksum is %02X, the record's bytes call for %02X", bytes_.back(),
                    wanted);
    }
    const unsigned type = bytes_[3];
    if (type > kLinearStart)
      return Printf("record type %02X is not an Intel HEX type (00 to 05)", type);
    if (type != kData && count != kTypeLength[type]) {
      return Printf("a type %02X record holds %zu data bytes, this one %zu", type,
                    kTypeLength[type], count);
    }
    return "";
  }

  std::string Take(std::string_view record, ImageBuilder& image, bool& end) {
    if (std::string error = Check(record); !error.empty()) return error;
    const std::size_t count = bytes_[0];
    const unsigned type = bytes_[3];
    const std::span<const std::uint8_t> data(bytes_.data() + 4, count);
    const std::size_t offset = bytes_[1] << 8 | bytes_[2];
    const std::uint64_t value = count == 2 ? data[0] << 8 | data[1] : 0;
    switch (type) {
      case kData:
        return PutData(image, offset, data);
      case kEndOfFile:
        end = true;
        break;
      case kSegmentAddress:
        base_ = value << 4;
        segmented_ = true;
        break;
      case kLinearAddress:
        base_ = value << 16;
        segmented_ = false;
        break;
      default:  // a start address means nothing to the device's loader
        break;
    }
    return "";
  }

 private:
  // Under a segment address the offset wraps round within its 64 KiB.
  std::string PutData(ImageBuilder& image, std::size_t offset, std::span<const std::uint8_t> data) {
    const std::size_t first = segmented_ ? std::min(data.size(), 0x10000 - offset) : data.size();
    std::string error = image.Put(base_ + offset, data.first(first));
    if (error.empty()) error = image.Put(base_, data.subspan(first));
    return error;
  }

  std::vector<std::uint8_t> bytes_;
  std::uint64_t base_ = 0;
  bool segmented_ = false;
};

}  // namespace

bool IsIntelHexRecord(std::string_view line) {
  return line.starts_with(':') && HexRecordReader().Check(line).empty();
}

ImageResult ReadIntelHex(std::string_view text) {
  HexRecordReader reader;
  return ReadRecords(text, {':', "end-of-file record (type 01)",
                            [&](std::string_view record, ImageBuilder& image, bool& end) {
                              return reader.Take(record, image, end);
                            }});
}

}  // namespace kelvo
