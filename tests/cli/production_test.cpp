// kelvo-cli's production mode as a line runs it: board after board on one port, each recorded,
// against a simulator that stands for a line of boards. At the real clock's speed, so short.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cli_process.h"
#include "device_record.h"
#include "doubles/temp_folder.h"
#include "simulator/pseudo_terminal.h"
#include "simulator/zarq_simulator.h"

namespace kelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The SHA-256 of app.bin, as sha256sum gives it.
constexpr char kImageSha256[] = "f011b6e354f57be43d50b74e2c3c1207e726aa5db4d220500270edd4761b2794";

class Production : public CliTest {
 protected:
  std::string Record() const { return FileContents(directory_ / "r.jsonl"); }

  // A complete board's line, exactly; only the time and the seconds may vary.
  std::string CompleteLine(const std::string& port) const {
    CliProcess version({"--version"}, directory_);
    version.Wait();
    const std::string number = version.Stdout().substr(std::string("kelvo-cli ").size());
    return R"(\{"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ","port":")" + port +
           R"(","file":"app\.bin","size":552,"sha256":")" + kImageSha256 +
           R"(","outcome":"complete","blocks":5,"errors":0,"seconds":\d+\.\d{3},)"
           R"("version":")" +
           number.substr(0, number.find('\n')) + R"("\}\n)";
  }
};

// --count 3: three boards loaded, each new board erased and then holding the image, each with
// its line in the record. Then another run on a line whose next board is long in coming: its
// row says it waits, and Ctrl-C ends the wait with 130 and no line for a board that never came.
TEST_F(Production, BoardsAreLoadedAndRecordedUntilTheCountOrCtrlC) {
  std::string complete;  // the record's lines so far
  {
    ZarqSimulator line({.next_board_ms = 300});
    CliProcess cli(
        {"--port", line.PortPath(), "--repeat", "--count", "3", "--record", "r.jsonl", "app.bin"},
        directory_);
    ASSERT_EQ(cli.Wait(), 0) << cli.Stderr();
    complete = "(" + CompleteLine(line.PortPath()) + "){3}";
    EXPECT_TRUE(std::regex_match(Record(), std::regex(complete))) << Record();

    Bytes board(ZarqSimulator::kMemoryBytes, 0xFF);
    const std::string image = FileContents(directory_ / "app.bin");
    std::copy(image.begin(), image.end(), board.begin() + 0x20000);
    std::vector<Bytes> boards;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (boards.size() < 3 && std::chrono::steady_clock::now() < deadline) {
      for (Bytes& memory : line.TakeLoadedBoards()) boards.push_back(std::move(memory));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(boards, std::vector<Bytes>(3, board));
    EXPECT_EQ(line.Memory(), Bytes(ZarqSimulator::kMemoryBytes, 0xFF));
  }

  ZarqSimulator slow_line({.next_board_ms = 60000});
  PseudoTerminal terminal;
  const int rows = ::open(terminal.SlavePath().c_str(), O_WRONLY | O_NOCTTY);
  CliProcess cli({"--port", slow_line.PortPath(), "--repeat", "--record", "r.jsonl", "app.bin"},
                 directory_, rows);
  ::close(rows);
  std::string shown;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (shown.find("waiting for device 2") == std::string::npos) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << shown;
    const Bytes bytes = terminal.ReadAvailable(std::chrono::milliseconds(10));
    shown.append(bytes.begin(), bytes.end());
  }
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(), 130);
  EXPECT_TRUE(std::regex_match(Record(), std::regex(complete + CompleteLine(slow_line.PortPath()))))
      << Record();
}

// Names are bytes: quotes, backslashes and control bytes are escaped, UTF-8 is kept, and a byte
// that is no part of it is read as Latin-1, so that the line is always valid JSON.
TEST(RecordLine, IsOneJsonObjectWhateverTheNames) {
  cli::DeviceRecord record;
  record.end = std::chrono::sys_days(std::chrono::year(2025) / 3 / 9) + std::chrono::hours(7) +
               std::chrono::minutes(5) + std::chrono::milliseconds(4900);
  record.port = "COM\\3\"\t\x01\x7F";
  // UTF-8 from its first three- and four-byte values to its last; a code page's letters, an
  // overlong form, a surrogate, a value past U+10FFFF and a sequence cut short.
  record.file =
      "caf\xC3\xA9 \xE0\xA0\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF \xE9\xC3 \xE0\x9F\xBF"
      "\xED\xA0\x80\xF4\x90\x80\x80\xE2\x82.bin";
  record.size = 552;
  record.outcome = TransferOutcome::kHalted;
  record.blocks = 4;
  record.errors = 12;
  record.seconds = 61.25;
  EXPECT_EQ(cli::RecordLine(record, "1.0"),
            R"({"time":"2025-03-09T07:05:04Z","port":"COM\\3\"\u0009\u0001\u007f",)"
            R"("file":"café )"
            "\xE0\xA0\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"
            R"( \u00e9\u00c3 \u00e0\u009f\u00bf\u00ed\u00a0\u0080\u00f4\u0090\u0080\u0080)"
            R"(\u00e2\u0082.bin",)"
            R"("size":552,"sha256":null,"outcome":"halted","blocks":4,"errors":12,)"
            R"("seconds":61.250,"version":"1.0"})"
            "\n");
}

// A line that does not fit (a file size limit stands for a full disk) is refused and leaves the
// record as it was, so that the next device's line does not follow half a line; the board's
// upload went well, but the run fails, so that a board missing from the record does not pass.
TEST_F(Production, ALineThatDoesNotFitLeavesNoPartOfItAndFailsTheRun) {
  ZarqSimulator device;
  const fs::path path = directory_ / "r.jsonl";
  std::ofstream(path) << "{\"done\":1}\n";
  const rlimit limit{fs::file_size(path) + 100, RLIM_INFINITY};  // less than a line
  const auto run = [&] {  // in a child of a process with threads: system calls only
    ::signal(SIGXFSZ, SIG_IGN);
    const int log = ::open("/dev/null", O_WRONLY);
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0 || ::chdir(directory_.c_str()) != 0 ||
        ::dup2(log, STDOUT_FILENO) < 0)
      std::_Exit(3);
    ::execl(KELVO_CLI_PATH, KELVO_CLI_PATH, "--port", device.PortPath().c_str(), "--record",
            "r.jsonl", "app.bin", nullptr);
    std::_Exit(4);
  };
  EXPECT_EXIT(run(), ::testing::ExitedWithCode(1), "--record .*r\\.jsonl: File too large\n");
  EXPECT_EQ(Record(), "{\"done\":1}\n");
}

}  // namespace
}  // namespace kelvo
