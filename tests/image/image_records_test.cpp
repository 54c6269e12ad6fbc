#include "image/image_records.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "doubles/temp_folder.h"
#include "image/image_file.h"
#include "support/record_files.h"

namespace kelvo {
namespace {

using testing::Bytes;
using testing::HexRecord;
using testing::SRecord;

// An image of size bytes of 0xFF with these bytes at these offsets from 0x20000.
Bytes Image(std::size_t size, std::initializer_list<std::pair<std::size_t, Bytes>> parts) {
  Bytes image(size, 0xFF);
  for (const auto& [at, bytes] : parts) std::copy(bytes.begin(), bytes.end(), image.begin() + at);
  return image;
}

// Start addresses are passed over, an overlap with the same bytes is taken, a segment address
// wraps its offset round within 64 KiB and a linear one after it does not, and lines may end in
// CR LF or be blank.
TEST(ReadIntelHex, PlacesDataByLinearAndSegmentAddressesWithGapsOfFF) {
  const std::string text =
      HexRecord(3, 0, {0, 0, 0, 0}) + "\r\n" + HexRecord(4, 0, {0x00, 0x02}) + "\r\n" +  // 0x20000
      HexRecord(0, 0x0000, {1, 2, 3, 4}) + "\r\n\r\n" + HexRecord(0, 0x0002, {3, 4, 5}) + "\n" +
      HexRecord(2, 0, {0x3F, 0xFF}) + "\n" +                                        // 0x3FFF0
      HexRecord(0, 0xFFFF, {7, 8}) + "\n" + HexRecord(4, 0, {0x00, 0x03}) + "\n" +  // no wrap
      HexRecord(0, 0xFFFF, {9, 6}) + "\n" + HexRecord(5, 0, {0, 0, 0, 0}) + "\n" +
      HexRecord(1, 0, {}) + "\n\n";
  const ImageResult read = ReadIntelHex(text);
  ASSERT_TRUE(read.Ok()) << read.line << ": " << read.error;
  EXPECT_EQ(
      read.image,
      Image(0x2FFF0, {{0, {1, 2, 3, 4, 5}}, {0x1FFF0, {8}}, {0x1FFFF, {9, 6}}, {0x2FFEF, {7}}}));
}

// The header is passed over; every termination ends the file; count records count the data
// records before them.
TEST(ReadSRecords, PlacesDataBy24And32BitAddressesWithGapsOfFF) {
  for (const char end : {'7', '8', '9'}) {
    const std::string text = SRecord('0', 0, {'h', 'd', 'r'}) + "\r\n" +
                             SRecord('2', 0x020000, {1, 2, 3}) + "\r\n\r\n" +
                             SRecord('3', 0x00020010, {9}) + "\n" + SRecord('5', 2, {}) + "\n" +
                             SRecord('3', 0x00020001, {2, 3}) + "\n" + SRecord('6', 3, {}) + "\n" +
                             SRecord(end, 0x020000, {});
    const ImageResult read = ReadSRecords(text);
    ASSERT_TRUE(read.Ok()) << end << " " << read.line << ": " << read.error;
    EXPECT_EQ(read.image, Image(0x11, {{0, {1, 2, 3}}, {0x10, {9}}}));
  }
}

// The checks both formats share (the line's first byte, the placing of data, the file's end) are
// tried through one of them.
TEST(ReadImageRecords, RefusesAMalformedFileWithItsLineAndWhy) {
  const std::string base = HexRecord(4, 0, {0x00, 0x02}) + "\n";
  const std::string data = HexRecord(0, 0, {1, 2, 3}), eof = HexRecord(1, 0, {});
  std::string long_count = data;
  long_count[2] = '4';
  std::string s2 = SRecord('2', 0x020000, {1, 2, 3}), s2_long = s2;
  s2_long[3] = '8';
  const std::string s9 = SRecord('9', 0, {});
  const struct {
    ImageResult (*read)(std::string_view);
    std::string text;
    std::size_t line;
    std::string error;
  } cases[] = {
      {ReadIntelHex, HexRecord(4, 0, {0, 2}) + "\r\n\r\n:0300000001020305\r\n" + eof, 3,
       "the checksum is 05, the record's bytes call for F7"},
      {ReadIntelHex, base + ":03000000010g03F7", 2, "'g' at column 13 is not a hex digit"},
      {ReadIntelHex, base + ":0300000001020", 2, "the record has an odd number of hex digits"},
      {ReadIntelHex, base + " " + data, 2,
       "the line starts with byte 0x20, where a record starts with ':'"},
      {ReadIntelHex, base + ":00000001", 2,
       "the record is too short for a count, an address and a type"},
      {ReadIntelHex, base + long_count, 2, "the byte count says 4 data bytes, the record holds 3"},
      {ReadIntelHex, base + HexRecord(6, 0, {}), 2,
       "record type 06 is not an Intel HEX type (00 to 05)"},
      {ReadIntelHex, HexRecord(4, 0, {2}), 1, "a type 04 record holds 2 data bytes, this one 1"},
      {ReadIntelHex, HexRecord(2, 0, {0x1F, 0xFF}) + "\n" + HexRecord(0, 0xF, {1, 2}), 2,
       "data at 0x1FFFF is below 0x20000, where the image starts"},
      {ReadIntelHex, HexRecord(4, 0, {0, 0x0F}) + "\n" + HexRecord(0, 0xFFFF, {1, 2}), 2,
       "data up to 0x100000 runs past 0xFFFFF, the end of the 917504 bytes the device takes"},
      {ReadIntelHex, base + data + "\n" + HexRecord(0, 1, {2, 9}), 3,
       "byte 0x20002 was written before as 03, this record has 09"},
      {ReadIntelHex, "\n" + eof + "\r\n", 2, "the file holds no data"},
      {ReadIntelHex, base + data + "\r\n\r\n", 2,
       "the file ends without its end-of-file record (type 01)"},
      {ReadIntelHex, base + data + "\n" + eof + "\n\n" + eof, 5,
       "a record after the end-of-file record (type 01) on line 3"},
      {ReadSRecords, s2.substr(0, s2.size() - 1) + "1\n" + s9, 1,
       "the checksum is F1, the record's bytes call for F0"},
      {ReadSRecords, "S4" + s2.substr(2), 1,
       "the record type '4' after 'S' is not one of the S-record types (0 to 3, 5 to 9)"},
      {ReadSRecords, "S\r\n", 1, "the record has no type after its 'S'"},
      {ReadSRecords, s2_long, 1, "the byte count says 8 bytes follow it, the record holds 7"},
      {ReadSRecords, "S2030000FC", 1,
       "an S2 record holds at least 4 bytes after its count, this one 3"},
      {ReadSRecords, SRecord('1', 0xFFFF, {1}), 1,
       "data at 0xFFFF is below 0x20000, where the image starts"},
      {ReadSRecords, SRecord('9', 0, {1}), 1, "an S9 record holds an address and no data"},
      {ReadSRecords, s2 + "\n" + SRecord('5', 2, {}), 2,
       "the count record says 2 data records, the file has 1 before it"},
  };
  for (const auto& c : cases) {
    const ImageResult read = c.read(c.text);
    EXPECT_EQ(read.line, c.line) << c.text;
    EXPECT_EQ(read.error, c.error) << c.text;
    EXPECT_TRUE(read.image.empty()) << c.text;
  }
}

// The reader goes by the extension, in any case, and passes over a byte-order mark and Ctrl-Z
// and NUL padding; records under any other name are refused, never taken for raw bytes; a file
// larger than any image is refused before it is read into memory.
TEST(ReadImageFile, ReadsByTheNameRefusesRecordsUnderAnyOtherAndFilesOver64MiB) {
  const testing::TempFolder folder("kelvo-records");
  const std::string hex = "\xEF\xBB\xBF" + HexRecord(4, 0, {0, 2}) + "\n" + HexRecord(0, 0, {7}) +
                          "\n" + HexRecord(1, 0, {}) + "\r\n\x1A" + std::string(60, '\0');
  const std::string srec = SRecord('3', 0x20000, {7}) + "\n" + SRecord('7', 0, {}) + "\x1A";
  const auto read = [&](const std::string& name, const std::string& text) {
    std::ofstream(folder.Path() / name, std::ios::binary) << text;
    return ReadImageFile((folder.Path() / name).string());
  };
  for (const char* name : {"a.HEX", "a.ihx", "a.iHex", "a.mhx"})
    EXPECT_EQ(read(name, hex).image, Bytes{7}) << name;
  for (const char* name : {"a.Srec", "a.s19", "a.S28", "a.s37", "a.mot", "a.s", "a.sx", "a.s1",
                           "a.s2", "a.s3", "a.exo"})
    EXPECT_EQ(read(name, srec).image, Bytes{7}) << name;
  EXPECT_EQ(read("a.bin", hex).error,
            "the file holds Intel HEX records, which load from a file named .hex, .ihx, .ihex or "
            ".mhx");
  EXPECT_EQ(read("a", srec).error,
            "the file holds S-records, which load from a file named .srec, .s19, .s28, .s37, "
            ".mot, .s, .sx, .s1, .s2, .s3 or .exo");

  const std::filesystem::path huge = folder.Path() / "huge.srec";
  testing::WriteFileBytes(huge, {});
  std::filesystem::resize_file(huge, kLargestImageFile + 1);
  const ImageResult too_large = ReadImageFile(huge.string());
  EXPECT_EQ(too_large.line, 0u);
  EXPECT_EQ(too_large.error, "the file is larger than 64 MiB");
}

}  // namespace
}  // namespace kelvo
