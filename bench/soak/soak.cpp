// A long shift at the bench in a minute: 1000 uploads and 200 script playbacks in one process
// against the simulated device that answers at once, each with a fault drawn at random. Each run
// must end as its fault implies, with the log's closing lines and, when complete, the image in
// the device's memory; across the runs the process's descriptors, threads and resident memory
// must stay level.
//
//   soak [--seed N] [--run K]   K: 0-999 are the uploads, 1000-1199 the playbacks
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "serial/protocol.h"
#include "simulator/zarq_simulator.h"
#include "support/fast_ticker.h"
#include "support/temp_folder.h"
#include "support/watched_form.h"
#include "transfer/run_transfer.h"
#include "transfer/shared_state.h"

namespace kelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Random = std::mt19937_64;

constexpr int kUploads = 1000;
constexpr int kPlaybacks = 200;
constexpr int kCompared = 100;  // runs averaged at each end to see whether the process grows

enum Fault {
  kNone,
  kSilence,
  kBabble,
  kRefusedBlocks,
  kRefusedCommand,
  kShortReplies,
  kNoise,
  kHangUp,
  kHalt,
  kFaultCount
};
constexpr std::array<const char*, kFaultCount> kFaultNames = {
    "none",  "silence", "babble", "refused blocks", "refused command", "short replies",
    "noise", "hang-up", "halt"};
constexpr std::array<const char*, 3> kOutcomeNames = {"complete", "failed", "halted"};

int Pick(Random& random, int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(random);
}

std::vector<std::string> Lines(const std::string& log) {
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(log.substr(at, end - at));
  return lines;
}

// What a transfer body wrote: the lines after the file line, up to "Closing Port".
std::vector<std::string> Body(const std::vector<std::string>& lines) {
  const auto file = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.starts_with("Opening File ");
  });
  const auto closing = std::find(lines.begin(), lines.end(), "Closing Port");
  if (file == lines.end() || closing < file) return {};
  return {file + 1, closing};
}

std::size_t Count(const std::vector<std::string>& lines, const std::string& start) {
  return std::count_if(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.starts_with(start); });
}

struct Run {
  int index = 0;
  Fault fault = kNone;
  TransferOutcome outcome = TransferOutcome::kFailed;
  std::vector<std::string> problems;

  void Expect(bool holds, const std::string& what) {
    if (!holds) problems.push_back(what);
  }
};

// One transfer against a fresh simulator, with a fast clock.
struct Bench {
  explicit Bench(SimulatorOptions options) : device(options) {
    form.SetText(Control::PortCombo, device.PortPath());
  }
  TransferOutcome Run(TransferKind kind) {
    testing::FastTicker ticker(shared.clock);
    return RunTransfer(kind, form, shared).outcome;
  }
  ZarqSimulator device;
  testing::WatchedForm form;
  SharedState shared;
};

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

// A script of message lines, SEND lines (some closed by a checksum) and lines that play no
// part. Its bytes stay clear of the loader's frame bytes, so the device takes each as it comes.
struct Script {
  std::string text;
  std::vector<std::string> log;  // the body's lines when it plays whole
  Bytes bytes;                   // what reaches the device
  struct Send {
    std::size_t log_lines;  // the body's lines up to its own
    bool last;              // the script's last line
    std::size_t bytes;
  };
  std::vector<Send> sends;
};

Script MakeScript(Random& random) {
  Script script;
  const int lines = Pick(random, 1, 12);
  std::size_t sent_before = 0;
  for (int i = 0; i < lines; ++i) {
    std::string line;
    switch (Pick(random, 0, 3)) {
      case 0:
        line = "\"Step " + std::to_string(i);
        script.log.push_back(line.substr(1));
        break;
      case 1:
        line = "send 01 02";  // not a SEND line: the keyword's case counts
        break;
      default: {
        line = "SEND";
        std::uint8_t sum = 0;
        const int count = Pick(random, 1, 12);
        for (int b = 0; b < count; ++b) {
          const auto byte = static_cast<std::uint8_t>(Pick(random, 0x10, 0xFF));
          char token[8];
          std::snprintf(token, sizeof token, " %02x", byte);
          line += token;
          script.bytes.push_back(byte);
          sum = static_cast<std::uint8_t>(sum + byte);
        }
        if (const auto check = static_cast<std::uint8_t>(0x100 - sum);
            check >= 0x10 && Pick(random, 0, 1) == 1) {
          line += " XX";
          script.bytes.push_back(check);
        }
        script.log.push_back("Sending Data " + line);
        script.sends.push_back(
            {script.log.size(), i == lines - 1, script.bytes.size() - sent_before});
        sent_before = script.bytes.size();
      }
    }
    script.text += line + "\r\n";
  }
  return script;
}

void Playback(Random& random, Run& run, const std::filesystem::path& folder) {
  const Script script = MakeScript(random);
  SimulatorOptions options;
  options.silent = run.fault == kSilence;
  options.babble = run.fault == kBabble;
  if (run.fault == kHangUp) options.hang_up_after_blocks = 0;  // at the first bytes sent
  const std::filesystem::path path = folder / "steps.scr";
  std::ofstream(path, std::ios::binary) << script.text;
  Bench bench(options);
  bench.form.SetText(Control::FileEdit, path.string());
  // Halt while a SEND line is logged: the playback stops before the next line, if any.
  const int halt_at = run.fault == kHalt && !script.sends.empty()
                          ? Pick(random, 1, static_cast<int>(script.sends.size()))
                          : 0;
  int sends = 0;
  bench.form.watch = [&](Control, const std::string& text) {
    if (text.starts_with("Sending Data ") && ++sends == halt_at)
      bench.shared.HaltRequested.store(1);
  };
  run.outcome = bench.Run(TransferKind::kRunScript);

  const std::vector<std::string> lines = Lines(bench.form.Log());
  std::vector<std::string> body = Body(lines);
  run.Expect(!lines.empty() && lines.back() == "Closing Port",
             "the log does not end with Closing Port");
  std::vector<std::string> expected_log = script.log;
  TransferOutcome expected = TransferOutcome::kComplete;
  // The halt is seen once the next line has been read; after the last there is none.
  if (halt_at > 0 && !script.sends[static_cast<std::size_t>(halt_at) - 1].last) {
    expected_log.resize(script.sends[static_cast<std::size_t>(halt_at) - 1].log_lines);
    expected = TransferOutcome::kHalted;
  }
  run.Expect(run.outcome == expected, std::string("ended ") +
                                          kOutcomeNames[static_cast<int>(run.outcome)] + ", not " +
                                          kOutcomeNames[static_cast<int>(expected)]);
  const auto device_got = [&] {
    Bytes bytes;
    for (const ReceivedFrame& frame : bench.device.Frames())
      bytes.insert(bytes.end(), frame.bytes.begin(), frame.bytes.end());
    return bytes;
  };
  // The device takes the last bursts on a thread of its own, which the playback's fast clock
  // does not wait for: on a loaded machine they may still be on their way.
  Bytes received = device_got();
  const bool all_sent = expected == TransferOutcome::kComplete && run.fault != kHangUp;
  for (int i = 0; i < 200 && all_sent && received.size() < script.bytes.size(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    received = device_got();
  }
  if (run.fault == kHangUp) {
    // The device hangs up at the first burst; the writes after it fail once the line is gone.
    // A burst sent before the device has seen the port open is taken all the same.
    std::erase(body, "Error!");
    run.Expect(body == expected_log, "the log differs from the script's");
    run.Expect(script.sends.empty() || received.size() <= script.sends.front().bytes,
               "bytes taken after the hang-up");
  } else {
    run.Expect(body == expected_log, "the log differs from the script's");
    if (expected == TransferOutcome::kComplete)
      run.Expect(received == script.bytes, "the device did not get the script's bytes");
  }
}

struct Usage {
  std::size_t descriptors = 0, threads = 0, resident_kib = 0;
};

std::size_t Entries(const char* folder) {
  const auto it = std::filesystem::directory_iterator(folder);
  return static_cast<std::size_t>(std::distance(begin(it), end(it)));
}

Usage Measure() {
  Usage usage;
  usage.descriptors = Entries("/proc/self/fd");
  usage.threads = Entries("/proc/self/task");
  std::ifstream statm("/proc/self/statm");
  std::size_t size = 0, resident = 0;
  statm >> size >> resident;
  usage.resident_kib = resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)) / 1024;
  return usage;
}

Run OneRun(std::uint64_t seed, int index, const std::filesystem::path& folder) {
  std::seed_seq sequence{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32),
                         static_cast<std::uint32_t>(index)};
  Random random(sequence);
  Run run;
  run.index = index;
  run.fault = static_cast<Fault>(Pick(random, 0, kFaultCount - 1));
  if (index < kUploads)
    Upload(random, run, folder);
  else
    Playback(random, run, folder);
  return run;
}

void PrintTable(const char* title, const std::map<std::pair<int, int>, int>& counts) {
  std::printf("\n%-16s %9s %9s %9s\n", title, kOutcomeNames[0], kOutcomeNames[1], kOutcomeNames[2]);
  for (int f = 0; f < kFaultCount; ++f) {
    std::printf("%-16s", kFaultNames[f]);
    for (int o = 0; o < 3; ++o) {
      const auto it = counts.find({f, o});
      std::printf(" %9d", it == counts.end() ? 0 : it->second);
    }
    std::printf("\n");
  }
}

}  // namespace
}  // namespace kelvo

int main(int argc, char** argv) {
  using namespace kelvo;
  std::uint64_t seed = std::random_device{}();
  std::optional<int> only;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--seed") seed = std::strtoull(argv[i + 1], nullptr, 10);
    if (option == "--run") only = std::atoi(argv[i + 1]);
  }
  std::printf("soak: seed %llu (one run again: --seed %llu --run K)\n",
              static_cast<unsigned long long>(seed), static_cast<unsigned long long>(seed));
  testing::TempFolder folder("kelvo-soak");

  std::map<std::pair<int, int>, int> uploads, playbacks;
  std::vector<Usage> usage;
  int failed = 0;
  const int first = only.value_or(0), last = only ? *only + 1 : kUploads + kPlaybacks;
  for (int index = first; index < last; ++index) {
    const Run run = OneRun(seed, index, folder.Path());
    (index < kUploads ? uploads : playbacks)[{run.fault, static_cast<int>(run.outcome)}]++;
    usage.push_back(Measure());
    if (run.problems.empty()) continue;
    ++failed;
    std::printf("run %d (%s, %s): FAILED:", index, index < kUploads ? "upload" : "playback",
                kFaultNames[run.fault]);
    for (const std::string& problem : run.problems) std::printf(" %s;", problem.c_str());
    std::printf("\n");
  }
  PrintTable("upload fault", uploads);
  PrintTable("playback fault", playbacks);

  bool level = true;
  if (usage.size() >= 2 * kCompared) {
    const auto average = [&](std::size_t from, auto field) {
      double sum = 0;
      for (std::size_t i = from; i < from + kCompared; ++i)
        sum += static_cast<double>(usage[i].*field);
      return sum / kCompared;
    };
    const std::size_t tail = usage.size() - kCompared;
    const double fds[] = {average(0, &Usage::descriptors), average(tail, &Usage::descriptors)};
    const double threads[] = {average(0, &Usage::threads), average(tail, &Usage::threads)};
    const double kib[] = {average(0, &Usage::resident_kib), average(tail, &Usage::resident_kib)};
    std::printf(
        "\nfirst vs last %d runs: descriptors %.1f / %.1f, threads %.1f / %.1f, "
        "resident memory %.0f / %.0f KiB\n",
        kCompared, fds[0], fds[1], threads[0], threads[1], kib[0], kib[1]);
    // Memory settles as each new thread's allocator pool fills, by about half a MiB; a leak of
    // a KiB a run would add a MiB over the thousand runs between the two ends.
    level = fds[1] <= fds[0] && threads[1] <= threads[0] && kib[1] <= kib[0] + 1024;
    if (!level) std::printf("FAILED: the process grows from run to run\n");
  }
  std::printf("%d of %d runs failed\n", failed, last - first);
  return failed == 0 && level ? 0 : 1;
}
