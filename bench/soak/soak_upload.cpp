// The soak's uploads: a random image, a fault drawn for the device, and the ending it implies.
#include <cstdio>
#include <optional>
#include <regex>

#include "doubles/temp_folder.h"
#include "serial/protocol.h"
#include "soak_run.h"

namespace kelvo::soak {
namespace {

struct Image {
  Bytes bytes;
  std::size_t blocks = 0, blank = 0;
  std::vector<int> sent;  // numbers of the blocks that are not blank, from 1

  // The first block sent after blank blocks, which the upload re-addresses; 0 if none.
  int FirstAfterGap() const {
    for (std::size_t i = 0; i < sent.size(); ++i)
      if (sent[i] != (i == 0 ? 1 : sent[i - 1] + 1)) return sent[i];
    return 0;
  }
};

// Blank blocks fall at random unless told otherwise; with_gap makes the first one blank.
Image MakeImage(Random& random, int most_blocks, bool with_gap, bool blanks = true) {
  Image image;
  const int blocks = Pick(random, 1, most_blocks);
  for (int b = 0; b < blocks; ++b) {
    const bool blank =
        (with_gap && b == 0 && blocks > 1) || (blanks && b > 0 && Pick(random, 0, 4) == 0);
    for (std::size_t i = 0; i < kBlockSize; ++i)
      image.bytes.push_back(blank ? 0xFF : static_cast<std::uint8_t>(Pick(random, 0, 0xFE)));
  }
  // A final part block, padded with 0xFF by the upload.
  image.bytes.resize(image.bytes.size() - static_cast<std::size_t>(Pick(random, 0, 100)));
  image.blocks = (image.bytes.size() + kBlockSize - 1) / kBlockSize;
  for (std::size_t b = 0; b < image.blocks; ++b) {
    const auto first = image.bytes.begin() + static_cast<std::ptrdiff_t>(b * kBlockSize);
    const auto last = image.bytes.begin() + static_cast<std::ptrdiff_t>(
                                                std::min(image.bytes.size(), (b + 1) * kBlockSize));
    if (std::all_of(first, last, [](std::uint8_t x) { return x == 0xFF; }))
      ++image.blank;
    else
      image.sent.push_back(static_cast<int>(b + 1));
  }
  return image;
}

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

}  // namespace

void Upload(Random& random, Run& run, const std::filesystem::path& folder) {
  SimulatorOptions options;
  bool zarqx = Pick(random, 0, 1) == 1;
  int most_blocks = 8;
  bool with_gap = false;
  std::string last_line;  // the body's last line, where the fault decides it
  TransferOutcome expected = TransferOutcome::kComplete;
  int halt_after = -1, halt_at_text = -1;
  std::optional<Image> given;
  switch (run.fault) {
    case kSilence:
      options.silent = true;
      halt_after = Pick(random, 1, 2);
      expected = TransferOutcome::kHalted;
      last_line = "Waiting for Initial NAK . . . no response";
      break;
    case kBabble:
      options.babble = true;
      expected = TransferOutcome::kFailed;
      last_line = "Waiting for Initial NAK . . . unexpected data stream detected";
      break;
    case kRefusedBlocks:
      options.refuse_times = Pick(random, 1, 4);
      break;
    case kRefusedCommand: {
      expected = TransferOutcome::kFailed;
      const int which = Pick(random, 0, 2);
      options.refuse_command = which == 1 ? EraseCommand : SetAddressCommand;
      zarqx = which == 2;
      if (which == 0) last_line = "Initializing Address . . . Failed";
      if (which == 1) {
        // One erase region of blank blocks, then one to send.
        Image image;
        image.bytes.assign(kEraseRegionUnits * 16, 0xFF);
        image.bytes.resize(image.bytes.size() + kBlockSize, 0x5A);
        given = image;
        last_line = "Erasing 0x2000 . . . Failed";
      }
      with_gap = which == 2;
      break;
    }
    case kShortReplies:
      options.short_reply = Pick(random, 1, static_cast<int>(kPacketReplySize) - 1);
      most_blocks = 2;  // each short reply costs the read's whole 134 ms
      break;
    case kNoise:
      options.noise_before_ack = Pick(random, 1, 5);
      zarqx = false;
      break;
    case kHalt:
      halt_at_text = Pick(random, 1, 40);
      break;
    default:
      break;
  }
  // A hang-up met by a command rather than a block ends as that command's failure, so the blocks
  // of a hang-up follow each other without a gap.
  if (run.fault == kHangUp) zarqx = true;
  const Image image =
      given ? *given : MakeImage(random, most_blocks, with_gap, run.fault != kHangUp);
  if (run.fault == kRefusedCommand && with_gap) {
    if (const int block = image.FirstAfterGap(); block == 0) {
      expected = TransferOutcome::kComplete;  // no gap: the refused command is never sent
    } else {
      last_line = "Skipping to Address " + Hex(0x2000 + 8 * (block - 1)) +
                  " . . . Failed.  Programming Aborting.";
    }
  }
  if (run.fault == kRefusedBlocks) {
    if (image.sent.empty())
      options.refuse_times = 0;
    else
      options.refuse_block = image.sent[Pick(random, 0, static_cast<int>(image.sent.size()) - 1)];
  }
  if (run.fault == kHangUp && !image.sent.empty()) {
    options.hang_up_after_blocks = Pick(random, 0, static_cast<int>(image.sent.size()) - 1);
    expected = TransferOutcome::kFailed;
  }

  const std::filesystem::path path = folder / "image.bin";
  testing::WriteFileBytes(path, image.bytes);
  Bench bench(options);
  if (run.fault == kHangUp && expected == TransferOutcome::kFailed)
    last_line = "Lost the port " + bench.device.PortPath() + ". Aborting Programming";
  bench.form.SetText(Control::FileEdit, path.string());
  bench.form.SetText(Control::DeviceTypeCombo, zarqx ? "ZARQX" : "ZARQ 40 - 580");
  bench.form.SetText(Control::StartAddressCombo, "0x2000");
  int no_responses = 0;
  bool completed_before_halt = false;
  std::optional<std::size_t> frames_at_halt;
  int texts = 0;  // the texts written so far
  bench.form.watch = [&](Control control, const std::string& text) {
    if (control == Control::StartButton || control == Control::HaltButton) return;
    ++texts;
    if (text == "no response" && ++no_responses == halt_after) bench.shared.HaltRequested.store(1);
    if (text == "Programming Complete" && !frames_at_halt) completed_before_halt = true;
    if (texts == halt_at_text) {
      frames_at_halt = bench.device.Frames().size();
      bench.shared.HaltRequested.store(1);
    }
  };
  if (run.fault == kHalt)
    expected = halt_at_text <= 0 ? TransferOutcome::kComplete : TransferOutcome::kHalted;
  run.outcome = bench.Run(TransferKind::kUploadImage);
  if (run.fault == kHalt && (!frames_at_halt || completed_before_halt))
    expected = TransferOutcome::kComplete;  // pressed after the last look, or not at all

  const std::vector<std::string> lines = Lines(bench.form.Log());
  const std::vector<std::string> body = Body(lines);
  run.Expect(run.outcome == expected, std::string("ended ") +
                                          kOutcomeNames[static_cast<int>(run.outcome)] + ", not " +
                                          kOutcomeNames[static_cast<int>(expected)]);
  static const std::regex time_line("Time: \\d\\d:\\d\\d:\\d\\d"),
      elapsed("Elapsed: \\d\\d:\\d\\d");
  run.Expect(lines.size() >= 3 && lines[lines.size() - 3] == "Closing Port" &&
                 std::regex_match(lines[lines.size() - 2], time_line) &&
                 std::regex_match(lines.back(), elapsed),
             "the log does not end with the closing lines");
  const bool complete = run.outcome == TransferOutcome::kComplete;
  if (complete) {
    const std::vector<std::string> end = {"Programming Complete",
                                          std::to_string(image.blank) + " Unused Blocks Skipped",
                                          "Sending EOT"};
    run.Expect(body.size() >= 3 && std::equal(end.begin(), end.end(), body.end() - 3),
               "the body does not end with the lines of a complete upload");
    Bytes padded = image.bytes;
    padded.resize(image.blocks * kBlockSize, 0xFF);
    const Bytes memory = bench.device.Memory();
    run.Expect(std::equal(padded.begin(), padded.end(), memory.begin() + 0x20000),
               "the device's memory differs from the image");
    run.Expect(bench.device.EotCount() == 2, "not two EOTs");
  } else {
    run.Expect(bench.device.EotCount() == 0, "EOT after an upload that did not complete");
    run.Expect(Count(body, "Programming Complete") == 0, "\"Programming Complete\" logged");
  }
  if (!last_line.empty())
    run.Expect(!body.empty() && body.back() == last_line,
               "the body does not end with " + last_line);
  if (run.fault == kRefusedBlocks && complete)
    run.Expect(
        Count(body, "Error on Block ") == static_cast<std::size_t>(options.refuse_times) &&
            bench.form.ReadText(Control::ErrorsField) == std::to_string(options.refuse_times),
        "not one retry per refusal");
  if (run.fault == kShortReplies && complete)
    run.Expect(Count(body, "Incomplete Response from ZARQ") == image.sent.size(),
               "not one incomplete-response line per block");
  if (run.fault == kHalt && run.outcome == TransferOutcome::kHalted) {
    // The block in hand is finished, and nothing more is sent.
    std::size_t packets = 0;
    const auto frames = bench.device.Frames();
    for (std::size_t f = *frames_at_halt; f < frames.size(); ++f)
      packets += frames[f].kind == ReceivedFrame::Kind::kPacket;
    run.Expect(packets <= 1, "more than the block in hand sent after Halt");
  }
}

}  // namespace kelvo::soak
