#include "settings/settings_record.h"

#include <gtest/gtest.h>

namespace kelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A port name longer than its 4 bytes, or a text longer than its length byte can say, is stored
// empty: cut short, it would name another port or file ("COM10" as "COM1").
TEST(SettingsRecord, AFieldTooLongForItsPlaceIsStoredEmpty) {
  struct Case {
    std::string port, port_back;
    std::size_t path, address;  // the lengths of the texts
    std::size_t l1, l2;         // the lengths stored
  };
  for (const Case& c : {Case{"COM", "COM", 9, 6, 9, 6}, Case{"COM1", "COM1", 255, 255, 255, 255},
                        Case{"COM10", "", 256, 6, 0, 6}, Case{"", "", 0, 300, 0, 0}}) {
    SCOPED_TRACE(::testing::Message() << c.port << " " << c.path << "/" << c.address);
    const Bytes record = EncodeSettings(
        {c.port, std::string(c.path, 'p'), std::string(c.address, 'a'), "ZARQX", 0xBEEF});
    EXPECT_EQ(record.size(), 9 + c.l1 + c.l2);
    const Settings expected{c.port_back, std::string(c.l1, 'p'), std::string(c.l2, 'a'), "ZARQX",
                            0xBEEF};
    EXPECT_EQ(DecodeSettings(record).settings, expected);
  }
}

// Only the exact name is a ZARQX; any nonzero flag read back is one.
TEST(SettingsRecord, TheFlagIsOneForExactlyZarqxAndAnyNonzeroFlagReadsAsZarqx) {
  for (const std::string type : {"zarqx", "ZARQX ", "ZARQ 40 - 580"})
    EXPECT_EQ(EncodeSettings({"COM1", "", "", type, 0})[6], 0) << type;  // the flag
  for (const int flag : {0, 2, 0xFF}) {
    Bytes record = EncodeSettings(Settings{});
    record[record.size() - 3] = static_cast<std::uint8_t>(flag);
    EXPECT_EQ(DecodeSettings(record).settings.device_type, flag ? "ZARQX" : "ZARQ 40 - 580");
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
