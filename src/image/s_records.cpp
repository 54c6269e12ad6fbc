#include <numeric>

#include "image/image_records.h"
#include "image/printf_text.h"
#include "image/record_lines.h"

namespace kelvo {
namespace {

// Address bytes of S0 to S9; 0 where there is no such record.
constexpr std::size_t kAddressLength[] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

// The record after "Sn" in bytes: count, address, data, checksum.
class SRecordReader {
 public:
  // Why the line is no well-formed record with a right checksum, or "".
  std::string Check(std::string_view record) {
    if (record.size() < 2) return "the record has no type after its 'S'";
    const char type = record[1];
    if (type < '0' || type > '9' || kAddressLength[type - '0'] == 0) {
      return "the record type " + Shown(type) +
             " after 'S' is not one of the S-record types (0 to 3, 5 to 9)";
    }
    if (std::string error = HexBytes(record.substr(2), 3, bytes_); !error.empty()) return error;
    if (bytes_.empty()) return "the record has no byte count";
    const std::size_t count = bytes_[0];
    if (bytes_.size() != count + 1) {
      return Printf("the byte count says %zu bytes follow it, the record holds %zu", count,
                    bytes_.size() - 1);
    }
    const std::size_t address_length = kAddressLength[type - '0'];
    if (count < address_length + 1) {
      return Printf("an S%c record holds at least %zu bytes after its count, this one %zu", type,
                    address_length + 1, count);
    }
    const unsigned sum = std::accumulate(bytes_.begin(), bytes_.end() - 1, 0u);
    const unsigned wanted = ~sum & 0xFF;
    if (bytes_.back() != wanted) {
      return Printf("the checksum is %02X, the record's bytes call for %02X", bytes_.back(),
                    wanted);
    }
    return "";
  }

  std::string Take(std::string_view record, ImageBuilder& image, bool& end) {
    if (std::string error = Check(record); !error.empty()) return error;
    const char type = record[1];
    const std::size_t count = bytes_[0];
    const std::size_t address_length = kAddressLength[type - '0'];
    const auto address_bytes = std::span(bytes_).subspan(1, address_length);
    const std::uint64_t address =
        std::accumulate(address_bytes.begin(), address_bytes.end(), std::uint64_t{0},
                        [](std::uint64_t value, std::uint8_t byte) { return value << 8 | byte; });
    const auto data = std::span(bytes_).subspan(1 + address_length, count - address_length - 1);
    if (type == '0') return "";  // the header names the file; the device has no use for it
    if (type <= '3') {
      ++data_records_;
      return image.Put(address, data);
    }
    if (!data.empty()) return Printf("an S%c record holds an address and no data", type);
    if (type <= '6') {
      if (address == data_records_) return "";
      return Printf("the count record says %llu data records, the file has %llu before it",
                    static_cast<unsigned long long>(address),
                    static_cast<unsigned long long>(data_records_));
    }
    end = true;
    return "";
  }

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint64_t data_records_ = 0;
};

}  // namespace

bool IsSRecord(std::string_view line) {
  return line.starts_with('S') && SRecordReader().Check(line).empty();
}

ImageResult ReadSRecords(std::string_view text) {
  SRecordReader reader;
  return ReadRecords(text, {'S', "termination record (S7, S8 or S9)",
                            [&](std::string_view record, ImageBuilder& image, bool& end) {
                              return reader.Take(record, image, end);
                            }});
}

}  // namespace kelvo
