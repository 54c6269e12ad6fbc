#include "settings/settings_record.h"

#include <gtest/gtest.h>

#include <array>

namespace kelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(SettingsRecord, ExampleRecordBothWays) {
  const Bytes example = {0x43, 0x4F, 0x4D, 0x31, 0x09, 0x43, 0x3A, 0x5C, 0x66, 0x77, 0x2E, 0x62,
                         0x69, 0x6E, 0x06, 0x30, 0x78, 0x32, 0x30, 0x30, 0x30, 0x01, 0x64, 0x00};
  const Settings settings{"COM1", "C:\\fw.bin", "0x2000", "ZARQX", 100};
  EXPECT_EQ(EncodeSettings(settings), example);
  EXPECT_EQ(DecodeSettings(example).settings, settings);
}

TEST(SettingsRecord, PortFieldIsFourBytesAndNeverACutName) {
  struct Case {
    std::string port;
    Bytes field;
    std::string back;
  };
  for (const Case& c :
       {Case{"COM", {'C', 'O', 'M', 0}, "COM"}, Case{"COM1", {'C', 'O', 'M', '1'}, "COM1"},
        Case{"COM10", {0, 0, 0, 0}, ""},  // "COM1" would be another port
        Case{"/dev/pts/3", {0, 0, 0, 0}, ""}, Case{"", {0, 0, 0, 0}, ""}}) {
    const Bytes record = EncodeSettings({c.port, "", "0x2000", "ZARQ 40 - 580", 0});
    EXPECT_EQ(Bytes(record.begin(), record.begin() + 4), c.field) << c.port;
    EXPECT_EQ(record.size(), 9u + 0 + 6) << c.port;
    EXPECT_EQ(DecodeSettings(record).settings.port, c.back) << c.port;
  }
}

TEST(SettingsRecord, TextsTooLongForTheirLengthByteAreStoredEmpty) {
  // The lengths of the path and the start address, then the lengths stored (L1 and L2).
  for (const auto& [path, address, l1, l2] : {std::array<std::size_t, 4>{9, 6, 9, 6},
                                              {255, 255, 255, 255},
                                              {256, 6, 0, 6},
                                              {300, 6, 0, 6},
                                              {0, 300, 0, 0},
                                              {512, 257, 0, 0}}) {
    SCOPED_TRACE(testing::Message() << path << "/" << address);
    const Bytes record = EncodeSettings(
        {"COM2", std::string(path, 'p'), std::string(address, 'a'), "ZARQX", 0xBEEF});
    ASSERT_EQ(record.size(), 9 + l1 + l2);
    EXPECT_EQ(record[4], l1);
    EXPECT_EQ(record[5 + l1], l2);
    const Settings expected{"COM2", std::string(l1, 'p'), std::string(l2, 'a'), "ZARQX", 0xBEEF};
    EXPECT_EQ(DecodeSettings(record).settings, expected);
  }
}

TEST(SettingsRecord, TheFlagIsOneForExactlyZarqxAndAnyNonzeroFlagReadsAsZarqx) {
  for (const auto& [type, flag] : std::initializer_list<std::pair<std::string, int>>{
           {"ZARQX", 1}, {"zarqx", 0}, {"ZARQX ", 0}, {"ZARQ 40 - 580", 0}, {"", 0}}) {
    const Bytes record = EncodeSettings({"COM1", "", "0x2000", type, 0});
    EXPECT_EQ(record[record.size() - 3], flag) << type;
  }
  for (const int flag : {0, 1, 2, 0x80, 0xFF}) {
    Bytes record = EncodeSettings(Settings{});
    record[record.size() - 3] = static_cast<std::uint8_t>(flag);
    EXPECT_EQ(DecodeSettings(record).settings.device_type, flag ? "ZARQX" : "ZARQ 40 - 580")
        << flag;
  }
}

TEST(SettingsRecord, ShortRecordGivesEachFieldFromTheBytesOrItsDefault) {
  // Every value differs from its default; the delay's low byte alone is 0x2C.
  const Settings full{"COM7", "/fw/a.bin", "0x4000", "ZARQX", 300};
  Bytes record = EncodeSettings(full);
  record.insert(record.end(), {0xAA, 0xBB});  // bytes after the record are ignored
  const Settings defaults;
  // Where each field ends: port 4, path 5 + 9, start address 15 + 6, flag 22, delay 24.
  for (std::size_t n = 0; n <= record.size(); ++n) {
    SCOPED_TRACE(testing::Message() << "cut after " << n << " bytes");
    const DecodedSettings decoded = DecodeSettings(std::span(record).first(n));
    const Settings& s = decoded.settings;
    EXPECT_EQ(s.port, n >= 4 ? full.port : defaults.port);
    EXPECT_EQ(s.file_path, n >= 14 ? full.file_path : defaults.file_path);
    EXPECT_EQ(s.start_address, n >= 21 ? full.start_address : defaults.start_address);
    EXPECT_EQ(s.device_type, n >= 22 ? full.device_type : defaults.device_type);
    EXPECT_EQ(s.response_delay, n >= 24 ? full.response_delay : n == 23 ? 0x2C : 0);
    EXPECT_EQ(decoded.response_delay_bytes, n >= 24 ? 2 : n == 23 ? 1 : 0);
  }
}

}  // namespace
}  // namespace kelvo
