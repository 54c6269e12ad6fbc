// What the soak's uploads and playbacks share: the faults drawn, a run's findings, and one
// transfer against a fresh simulator with a fast clock.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "doubles/fast_ticker.h"
#include "doubles/watched_form.h"
#include "simulator/zarq_simulator.h"
#include "transfer/run_transfer.h"
#include "transfer/shared_state.h"

namespace kelvo::soak {

using Bytes = std::vector<std::uint8_t>;
using Random = std::mt19937_64;

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

inline int Pick(Random& random, int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(random);
}

inline std::vector<std::string> Lines(const std::string& log) {
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(log.substr(at, end - at));
  return lines;
}

// What a transfer body wrote: the lines after the file line, up to "Closing Port".
inline std::vector<std::string> Body(const std::vector<std::string>& lines) {
  const auto file = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.starts_with("Opening File ");
  });
  const auto closing = std::find(lines.begin(), lines.end(), "Closing Port");
  if (file == lines.end() || closing < file) return {};
  return {file + 1, closing};
}

inline std::size_t Count(const std::vector<std::string>& lines, const std::string& start) {
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

// Each draws its image or script and device faults from random, runs it and notes in run what
// did not end as the fault implies.
void Upload(Random& random, Run& run, const std::filesystem::path& folder);
void Playback(Random& random, Run& run, const std::filesystem::path& folder);

}  // namespace kelvo::soak
