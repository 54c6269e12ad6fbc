// zarq-sim: a simulated ZARQ loader on a pseudo-terminal, for trying Kelvo without a device.

#include <pthread.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "serial/protocol.h"
#include "simulator/zarq_simulator.h"

namespace {

namespace fs = std::filesystem;

constexpr timespec kLookInterval{0, 100'000'000};  // how often EOTs and new frames are looked for

struct Files {
  std::string memory;
  std::string frames;
};

struct Settings {
  kelvo::SimulatorOptions device;
  Files files;
  std::string link;
  bool verbose = false;
  double next_board_seconds = -1;
};

void Report(const char* option, const std::string& why) {
  if (!why.empty()) std::cerr << "zarq-sim: " << option << " " << why << "\n";
}

// As a line of boards, the memory file is each board's: it goes to FILE-N, taken when the next
// board replaces it.
void Save(const kelvo::ZarqSimulator& simulator, const Settings& settings) {
  const Files& files = settings.files;
  if (!files.memory.empty() && settings.device.next_board_ms < 0) {
    Report("--memory", simulator.SaveMemory(files.memory));
  }
  if (!files.frames.empty()) Report("--frames", simulator.SaveFrameLog(files.frames));
}

// "zarq-memory.bin" for board 2 is "zarq-memory-2.bin".
std::string BoardFile(const std::string& path, int board) {
  const fs::path file(path);
  return (file.parent_path() /
          (file.stem().string() + "-" + std::to_string(board) + file.extension().string()))
      .string();
}

void SaveLoadedBoards(kelvo::ZarqSimulator& simulator, const Settings& settings, int& boards) {
  for (const std::vector<std::uint8_t>& memory : simulator.TakeLoadedBoards()) {
    std::cout << "Board " << ++boards << " loaded; the next board is on the line.\n" << std::flush;
    if (settings.files.memory.empty()) continue;
    Report("--memory", kelvo::WriteOutputFile(BoardFile(settings.files.memory, boards),
                                              std::string(memory.begin(), memory.end())));
  }
}

// A link left behind by a run that was killed is replaced; anything else at that path is kept.
bool MakeLink(const std::string& link, const std::string& target) {
  std::error_code error;
  if (fs::is_symlink(fs::symlink_status(link, error))) fs::remove(link, error);
  fs::create_symlink(target, link, error);
  if (error) std::cerr << "zarq-sim: cannot link " << link << ": " << error.message() << "\n";
  return !error;
}

void RemoveLink(const std::string& link, const std::string& target) {
  std::error_code error;
  if (fs::is_symlink(fs::symlink_status(link, error)) && fs::read_symlink(link, error) == target) {
    fs::remove(link, error);
  }
}

std::string Hex(int byte) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

std::string Describe(const kelvo::SimulatorOptions& o) {
  std::string faults;
  const auto add = [&](const std::string& fault) {
    faults += (faults.empty() ? "" : ", ") + fault;
  };
  if (o.silent) add("silent");
  if (o.babble) add("babbles");
  if (o.handshake_byte != kelvo::kNak) add("handshake byte " + Hex(o.handshake_byte));
  if (o.refuse_block >= 0) {
    add("refuses block " + std::to_string(o.refuse_block) + " " + std::to_string(o.refuse_times) +
        " time(s)");
  }
  if (o.refuse_command >= 0) add("refuses command " + Hex(o.refuse_command));
  if (o.short_reply >= 0) add(std::to_string(o.short_reply) + "-byte packet replies");
  if (o.noise_before_ack > 0) add(std::to_string(o.noise_before_ack) + " noise bytes per command");
  if (o.hang_up_after_blocks >= 0) {
    add("hangs up after " + std::to_string(o.hang_up_after_blocks) + " packets");
  }
  return faults.empty() ? "none" : faults;
}

void AddOptions(CLI::App& app, Settings& settings) {
  kelvo::SimulatorOptions& options = settings.device;
  Files& files = settings.files;
  app.add_option("--link", settings.link,
                 "Also make PATH a symbolic link to the port (removed on exit)")
      ->option_text("PATH");
  app.add_option("--memory", files.memory, "Write the memory (1 MiB) to FILE at each EOT and exit")
      ->option_text("FILE");
  app.add_option("--frames", files.frames, "Write a line per frame received to FILE, likewise")
      ->option_text("FILE");
  app.add_flag("-v,--verbose", settings.verbose, "Print every frame as it arrives");
  app.add_flag(
      "--paced", options.paced,
      "Take 1.04 ms a byte both ways, as a 9600-baud line does\n(default: answer at once)");
  app.add_option("--next-board", settings.next_board_seconds,
                 "Stand for a line of boards: after each completed upload,\n"
                 "a new, erased board sends NAK after SECONDS (0.1 or\n"
                 "more); --memory then writes FILE-1, FILE-2, ... per board")
      ->check(CLI::Range(0.1, 86400.0))
      ->option_text("SECONDS");

  auto* faults = "Faults";
  auto* silent = app.add_flag("--silent", options.silent, "Never send a byte")
                     ->group(faults)
                     ->option_text(" ");
  app.add_flag(
         "--babble", options.babble,
         "Once the port is opened, send text without end and\nanswer nothing (not with --silent)")
      ->group(faults)
      ->excludes(silent)
      ->option_text(" ");
  app.add_option(
         "--handshake-byte", options.handshake_byte,
         "Announce the loader with this byte, not NAK (0x15):\n0x06 or 88 (X) make a stray byte")
      ->group(faults)
      ->check(CLI::Range(0, 255))
      ->option_text("BYTE");
  auto* refuse_block = app.add_option("--refuse-block", options.refuse_block,
                                      "Refuse (NAK) the packet of this block number (0-255)...")
                           ->group(faults)
                           ->check(CLI::Range(0, 255))
                           ->option_text("N");
  options.refuse_times = 1;
  app.add_option("--refuse-times", options.refuse_times,
                 "...this many times each session before taking it (1)")
      ->group(faults)
      ->check(CLI::PositiveNumber)
      ->needs(refuse_block)
      ->option_text("COUNT");
  app.add_option("--refuse-command", options.refuse_command,
                 "Always refuse 0x41 (set address) or 0x45 (erase)")
      ->group(faults)
      ->check(CLI::IsMember({int{kelvo::SetAddressCommand}, int{kelvo::EraseCommand}}))
      ->option_text("CODE");
  app.add_option(
         "--short-reply", options.short_reply,
         "Answer packets with this many bytes (0-133), not 133;\nthe last is still ACK or NAK")
      ->group(faults)
      ->check(CLI::Range(0, 133))
      ->option_text("COUNT");
  app.add_option("--noise", options.noise_before_ack,
                 "Send this many stray bytes ahead of each command's reply")
      ->group(faults)
      ->check(CLI::Range(0, 1000))
      ->option_text("COUNT");
  app.add_option("--hang-up-after", options.hang_up_after_blocks,
                 "Hang up when Kelvo sends more after this many packets")
      ->group(faults)
      ->check(CLI::NonNegativeNumber)
      ->option_text("COUNT");
  app.footer(
      "Example:\n"
      "  zarq-sim --link /tmp/zarq --memory zarq-memory.bin --frames zarq-frames.txt\n"
      "  then give Kelvo the port /tmp/zarq. In the memory file, address 0x2000 is byte\n"
      "  offset 0x20000 (addresses count 16-byte units).\n\n"
      "Exit status: 0 stopped by Ctrl-C or SIGTERM, or hung up as asked; 1 no pseudo-terminal\n"
      "or link could be made; 2 usage error.");
}

int Serve(const Settings& settings) {
  const kelvo::SimulatorOptions& options = settings.device;
  const std::string& link = settings.link;
  // Ctrl-C and SIGTERM are taken by sigtimedwait below; blocked before the simulator's thread
  // starts, so that thread inherits the mask and never takes them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  kelvo::ZarqSimulator simulator(options);
  if (!simulator.IsRunning()) {
    std::cerr << "zarq-sim: cannot create a pseudo-terminal\n";
    return 1;
  }
  const std::string& port = simulator.PortPath();
  if (!link.empty() && !MakeLink(link, port)) return 1;
  const std::string port_name = link.empty() ? port : link;
  std::cout << "ZARQ simulator ready on " << port;
  if (!link.empty()) std::cout << " (linked as " << link << ")";
  std::cout << "\nGive Kelvo the port " << port_name
            << " (a name holding '/' is opened as that path).\n"
            << "Line: " << (options.paced ? "paced at 9600 baud" : "answers at once")
            << ". Faults: " << Describe(options) << ".\n";
  if (options.next_board_ms >= 0) {
    std::cout << "A line of boards: a new board comes " << options.next_board_ms
              << " ms after each completed upload.\n";
  }
  std::cout << "Press Ctrl-C to stop.\n" << std::flush;

  std::size_t frames_shown = 0;
  int eots_seen = 0;
  int boards = 0;
  int caught = 0;
  while (caught != SIGINT && caught != SIGTERM && simulator.IsRunning()) {
    caught = sigtimedwait(&stop_signals, nullptr, &kLookInterval);
    if (settings.verbose) {
      const std::vector<std::string> lines = simulator.FrameLog();
      for (; frames_shown < lines.size(); ++frames_shown) std::cout << lines[frames_shown] << "\n";
      std::cout << std::flush;
    }
    if (simulator.EotCount() != eots_seen) {
      eots_seen = simulator.EotCount();
      std::cout << "EOT received (" << eots_seen << " so far)\n" << std::flush;
      Save(simulator, settings);
    }
    SaveLoadedBoards(simulator, settings, boards);
  }
  if (!simulator.IsRunning()) std::cout << "Hung up as asked.\n";
  simulator.Stop();
  SaveLoadedBoards(simulator, settings, boards);
  Save(simulator, settings);
  if (!link.empty()) RemoveLink(link, port);
  std::cout << "ZARQ simulator stopped after " << simulator.Frames().size() << " frames.\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Plays a ZARQ device's serial loader on a pseudo-terminal, so that Kelvo can load an image\n"
      "without hardware. Give Kelvo the printed port path (or the --link path) as its port. The\n"
      "device announces itself with NAK each time the port is opened, keeps 1 MiB of memory\n"
      "(0xFF at start) and loads from address 0x2000. Runs until Ctrl-C.",
      "zarq-sim"};
  app.set_version_flag("--version", std::string("zarq-sim ") + KELVO_VERSION);
  Settings settings;
  AddOptions(app, settings);
  try {
    app.parse(argc, argv);
    if (settings.next_board_seconds >= 0) {
      settings.device.next_board_ms = static_cast<int>(settings.next_board_seconds * 1000 + 0.5);
    }
  } catch (const CLI::ParseError& error) {
    // Every usage error ends in 2, as kelvo-cli's do, rather than in CLI11's codes of its own.
    return app.exit(error) == 0 ? 0 : 2;
  }
  return Serve(settings);
}
