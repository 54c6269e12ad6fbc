// Intel HEX and S-record files through the whole transfer, against the simulated device.
#include <gtest/gtest.h>

#include <regex>

#include "serial/protocol.h"
#include "simulator/zarq_simulator.h"
#include "support/fast_ticker.h"
#include "support/record_files.h"
#include "support/temp_folder.h"
#include "transfer/memory_form.h"
#include "transfer/transfer_frame.h"

namespace kelvo {
namespace {

using testing::Bytes;

struct RecordUpload {
  TransferOutcome Run(const std::string& name, const std::string& text) {
    path = (folder.Path() / name).string();
    testing::WriteFileBytes(path, Bytes(text.begin(), text.end()));
    form.SetText(Control::DeviceTypeCombo, "ZARQ 40 - 580");
    form.SetText(Control::StartAddressCombo, "0x2000");
    form.SetText(Control::PortCombo, sim.PortPath());
    form.SetText(Control::FileEdit, path);
    testing::FastTicker ticker(shared.clock);
    return RunTransfer(ChooseTransfer(path), form, shared).outcome;
  }
  Bytes Loaded(std::size_t size) const {
    const Bytes memory = sim.Memory();
    const auto start = memory.begin() + kImageStartByte;
    return Bytes(start, start + static_cast<std::ptrdiff_t>(size));
  }

  const testing::TempFolder folder{"kelvo-record-upload"};
  ZarqSimulator sim;
  MemoryForm form;
  SharedState shared;
  std::string path;
};

// Nine and a half blocks with a gap from the middle of block 3 to the end of block 6 that the
// file leaves out: the device's memory holds 0xFF there, block 3 is sent with its 0xFF, and
// blocks 4 to 6 are skipped as blank.
Bytes ImageWithAGap() {
  Bytes image(9 * kBlockSize + 64);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i % 251);
  std::fill(image.begin() + 2 * kBlockSize + 48, image.begin() + 6 * kBlockSize, 0xFF);
  return image;
}

TEST(RecordUpload, AHexOrSRecordFileLoadsTheImageWithFFInTheGap) {
  const Bytes image = ImageWithAGap();
  for (const auto& [name, text] : {std::pair{"app.hex", testing::IntelHexOf(image)},
                                   std::pair{"app.S37", testing::SRecordsOf(image)}}) {
    SCOPED_TRACE(name);
    RecordUpload upload;
    ASSERT_EQ(upload.Run(name, text), TransferOutcome::kComplete) << upload.form.Log();
    EXPECT_EQ(upload.Loaded(10 * kBlockSize), [&] {
      Bytes padded = image;
      padded.resize(10 * kBlockSize, 0xFF);
      return padded;
    }());
    EXPECT_NE(upload.form.Log().find("3 Unused Blocks Skipped"), std::string::npos);
  }
}

// The error line stands between the file's line and the closing, and the device sees nothing:
// the next upload's frames are all it has received.
TEST(RecordUpload, AMalformedFileSaysWhereAndSendsNothing) {
  RecordUpload upload;
  std::string text = testing::SRecordsOf(ImageWithAGap());
  text.insert(text.find("\r\nS3", text.find("\r\nS3") + 1) + 2, "S3G");
  ASSERT_EQ(upload.Run("bad.srec", text), TransferOutcome::kFailed);
  const std::string log = upload.form.Log();
  EXPECT_TRUE(std::regex_search(
      log, std::regex("Opening File " + upload.path + " \\. \\. \\. Opened\r\n" + upload.path +
                      " line 3: 'G' at column 3 is not a hex digit\\. Aborting Programming\r\n"
                      "Closing Port\r\nTime: .*\r\nElapsed: .*\r\n$")))
      << log;
  ASSERT_EQ(upload.Run("good.hex", testing::IntelHexOf({1, 2, 3})), TransferOutcome::kComplete);
  using Kind = ReceivedFrame::Kind;
  std::vector<Kind> kinds;
  for (const ReceivedFrame& frame : upload.sim.Frames()) kinds.push_back(frame.kind);
  EXPECT_EQ(kinds, (std::vector{Kind::kCommand, Kind::kPacket, Kind::kEot, Kind::kEot}));
}

}  // namespace
}  // namespace kelvo
