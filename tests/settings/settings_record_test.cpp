#include "settings/settings_record.h"

#include <gtest/gtest.h>

namespace kelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A text of n characters whose every prefix differs from the others.
std::string CountingText(std::size_t n) {
  std::string text;
  for (std::size_t i = 0; i < n; ++i) text.push_back(static_cast<char>('a' + i % 26));
  return text;
}

TEST(SettingsRecord, ExampleRecordBothWays) {
  const Bytes example = {0x43, 0x4F, 0x4D, 0x31, 0x09, 0x43, 0x3A, 0x5C, 0x66, 0x77, 0x2E, 0x62,
                         0x69, 0x6E, 0x06, 0x30, 0x78, 0x32, 0x30, 0x30, 0x30, 0x01, 0x64, 0x00};
  const Settings settings{"COM1", "C:\\fw.bin", "0x2000", "ZARQX", 100};
  EXPECT_EQ(EncodeSettings(settings), example);
  const DecodedSettings decoded = DecodeSettings(example);
  EXPECT_EQ(decoded.settings, settings);
  EXPECT_TRUE(decoded.holds_response_delay);
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
    Settings settings;
    settings.port = c.port;
    const Bytes record = EncodeSettings(settings);
    EXPECT_EQ(Bytes(record.begin(), record.begin() + 4), c.field) << c.port;
    EXPECT_EQ(record.size(), 9u + 0 + 6) << c.port;
    EXPECT_EQ(DecodeSettings(record).settings.port, c.back) << c.port;
  }
}

TEST(SettingsRecord, TextsTooLongForTheirLengthByteAreStoredEmpty) {
  struct Case {
    std::size_t path_length;
    std::size_t address_length;
    std::size_t l1;
    std::size_t l2;
  };
  for (const Case& c : {Case{9, 6, 9, 6}, Case{255, 255, 255, 255}, Case{256, 6, 0, 6},
                        Case{300, 6, 0, 6}, Case{0, 300, 0, 0}, Case{512, 257, 0, 0}}) {
    SCOPED_TRACE(testing::Message() << c.path_length << "/" << c.address_length);
    const Settings settings{"COM2", CountingText(c.path_length), CountingText(c.address_length),
                            "ZARQX", 0xBEEF};
    const Bytes record = EncodeSettings(settings);
    ASSERT_EQ(record.size(), 9 + c.l1 + c.l2);
    EXPECT_EQ(record[4], c.l1);
    EXPECT_EQ(record[5 + c.l1], c.l2);
    const DecodedSettings decoded = DecodeSettings(record);
    const Settings expected{"COM2", CountingText(c.l1), CountingText(c.l2), "ZARQX", 0xBEEF};
    EXPECT_EQ(decoded.settings, expected);
    EXPECT_TRUE(decoded.holds_response_delay);
  }
}

TEST(SettingsRecord, OnlyExactlyZarqxIsStoredAsTheFlag) {
  struct Case {
    std::string device_type;
    std::uint8_t flag;
    std::string back;
  };
  for (const Case& c : {Case{"ZARQX", 1, "ZARQX"}, Case{"zarqx", 0, "ZARQ 40 - 580"},
                        Case{"ZARQX ", 0, "ZARQ 40 - 580"},
                        Case{"ZARQ 40 - 580", 0, "ZARQ 40 - 580"}, Case{"", 0, "ZARQ 40 - 580"}}) {
    Settings settings;
    settings.device_type = c.device_type;
    const Bytes record = EncodeSettings(settings);
    EXPECT_EQ(record[record.size() - 3], c.flag) << c.device_type;
    EXPECT_EQ(DecodeSettings(record).settings.device_type, c.back) << c.device_type;
  }
}

TEST(SettingsRecord, AnyNonzeroFlagReadsAsZarqx) {
  for (const std::uint8_t flag : {2, 0x80, 0xFF}) {
    Bytes record = EncodeSettings(Settings{});
    record[record.size() - 3] = flag;
    EXPECT_EQ(DecodeSettings(record).settings.device_type, "ZARQX") << int{flag};
  }
}

TEST(SettingsRecord, ShortRecordGivesEachFieldFromTheBytesOrItsDefault) {
  // Every value differs from its default, and the delay's low byte alone (0x2C) would be wrong.
  const Settings full{"COM7", "/fw/a.bin", "0x4000", "ZARQX", 300};
  const Bytes record = EncodeSettings(full);
  ASSERT_EQ(record.size(), 24u);
  const Settings defaults;
  // Where each field ends: port 4, path 5 + 9, start address 15 + 6, flag 22, delay 24.
  for (std::size_t n = 0; n < record.size(); ++n) {
    SCOPED_TRACE(testing::Message() << "cut after " << n << " bytes");
    const DecodedSettings decoded = DecodeSettings(std::span(record).first(n));
    const Settings& s = decoded.settings;
    EXPECT_EQ(s.port, n >= 4 ? full.port : defaults.port);
    EXPECT_EQ(s.file_path, n >= 14 ? full.file_path : defaults.file_path);
    EXPECT_EQ(s.start_address, n >= 21 ? full.start_address : defaults.start_address);
    EXPECT_EQ(s.device_type, n >= 22 ? full.device_type : defaults.device_type);
    EXPECT_EQ(s.response_delay, defaults.response_delay);
    EXPECT_FALSE(decoded.holds_response_delay);
  }
}

TEST(SettingsRecord, BytesAfterTheRecordAreIgnored) {
  const Settings settings{"USB0", "x.scr", "0x2000", "ZARQ 40 - 580", 7};
  Bytes record = EncodeSettings(settings);
  record.insert(record.end(), {0xAA, 0xBB, 0xCC});
  EXPECT_EQ(DecodeSettings(record).settings, settings);
}

}  // namespace
}  // namespace kelvo
