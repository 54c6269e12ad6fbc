// The soak's script playbacks: a random script, a fault drawn for the device, and the log and
// bytes it implies.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "soak_run.h"

namespace kelvo::soak {
namespace {

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

}  // namespace

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

}  // namespace kelvo::soak
