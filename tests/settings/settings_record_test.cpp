#include "settings/settings_record.h"

#include <gtest/gtest.h>

namespace kelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A port name longer than its 4 bytes, or a text longer than its length byte can say, is stored
// empty: cut short, it would name another port or file ("COM10" as "COM1").
TEST(SettingsRecord, AFieldTooLongForItsPlaceIsStoredEmpty) {
  struct Case {
    std::string port;
    std::size_t path, address;  // the lengths of the texts
    Bytes port_field;
    std::size_t l1, l2;  // the lengths stored
    std::string port_back;
  };
  const Bytes none = {0, 0, 0, 0};
  for (const Case& c :
       {Case{"COM", 9, 6, {'C', 'O', 'M', 0}, 9, 6, "COM"},
        Case{"COM1", 255, 255, {'C', 'O', 'M', '1'}, 255, 255, "COM1"},
        Case{"COM10", 256, 6, none, 0, 6, ""}, Case{"/dev/pts/3", 300, 6, none, 0, 6, ""},
        Case{"", 0, 300, none, 0, 0, ""},
        Case{"COM2", 512, 257, {'C', 'O', 'M', '2'}, 0, 0, "COM2"}}) {
    SCOPED_TRACE(::testing::Message() << c.port << " " << c.path << "/" << c.address);
    const Bytes record = EncodeSettings(
        {c.port, std::string(c.path, 'p'), std::string(c.address, 'a'), "ZARQX", 0xBEEF});
    ASSERT_EQ(record.size(), 9 + c.l1 + c.l2);
    EXPECT_EQ(Bytes(record.begin(), record.begin() + 4), c.port_field);
    EXPECT_EQ(record[4], c.l1);
    EXPECT_EQ(record[5 + c.l1], c.l2);
    const Settings expected{c.port_back, std::string(c.l1, 'p'), std::string(c.l2, 'a'), "ZARQX",
                            0xBEEF};
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

TEST(SettingsRecord, EncodesInOrderAndAShortRecordGivesEachFieldFromTheBytesOrItsDefault) {
  // Every value differs from its default; the delay's low byte alone is 0x2C.
  const Settings full{"COM7", "/fw/a.bin", "0x4000", "ZARQX", 300};
  const std::string packed = std::string("COM7\t/fw/a.bin\x06") + "0x4000\x01\x2C\x01";
  Bytes record(packed.begin(), packed.end());
  EXPECT_EQ(EncodeSettings(full), record);
  record.insert(record.end(), {0xAA, 0xBB});  // bytes after the record are ignored
  const Settings defaults;
  // Where each field ends: port 4, path 5 + 9, start address 15 + 6, flag 22, delay 24.
  for (std::size_t n = 0; n <= record.size(); ++n) {
    SCOPED_TRACE(::testing::Message() << "cut after " << n << " bytes");
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
