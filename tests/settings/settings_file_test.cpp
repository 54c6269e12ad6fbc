#include "settings/settings_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>

#include "transfer/memory_form.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const Bytes kExampleFile = {0x43, 0x4F, 0x4D, 0x31, 0x09, 0x43, 0x3A, 0x5C, 0x66, 0x77, 0x2E, 0x62,
                            0x69, 0x6E, 0x06, 0x30, 0x78, 0x32, 0x30, 0x30, 0x30, 0x01, 0x64, 0x00};

// The five texts of the form that the settings file keeps.
struct FormTexts {
  std::string port;
  std::string file_path;
  std::string start_address;
  std::string device_type;
  std::string response_delay;

  bool operator==(const FormTexts&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const FormTexts& t) {
    return out << "{" << t.port << "|" << t.file_path << "|" << t.start_address << "|"
               << t.device_type << "|" << t.response_delay << "}";
  }
};

const FormTexts kDefaultTexts{"COM1", "", "0x2000", "ZARQ 40 - 580", "0"};

void Fill(MemoryForm& form, const FormTexts& texts) {
  form.SetText(Control::PortCombo, texts.port);
  form.SetText(Control::FileEdit, texts.file_path);
  form.SetText(Control::StartAddressCombo, texts.start_address);
  form.SetText(Control::DeviceTypeCombo, texts.device_type);
  form.SetText(Control::ResponseDelayEdit, texts.response_delay);
}

FormTexts TextsOf(MemoryForm& form) {
  return {form.ReadText(Control::PortCombo), form.ReadText(Control::FileEdit),
          form.ReadText(Control::StartAddressCombo), form.ReadText(Control::DeviceTypeCombo),
          form.ReadText(Control::ResponseDelayEdit)};
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs body in a child process and returns what it returned. unprivileged drops root first,
// since root's reads and writes ignore file permissions.
std::string InChildProcess(const std::function<std::string()>& body, bool unprivileged = false) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return "no pipe";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipe_fds[0]);
    if (unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(2);
    }
    const std::string result = body();
    const bool sent =
        ::write(pipe_fds[1], result.data(), result.size()) == static_cast<ssize_t>(result.size());
    ::_exit(sent ? 0 : 3);
  }
  ::close(pipe_fds[1]);
  std::string result;
  char buffer[256];
  for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;) result.append(buffer, n);
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  return result;
}

class SettingsFile : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kelvo-settings-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = dir_ / "KELVO.DAT";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::set<std::string> FilesInDir() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  fs::path dir_;
  fs::path path_;
  MemoryForm form_;
  std::atomic<std::uint16_t> delay_{0};
};

TEST_F(SettingsFile, WithoutAReadableFileTheFormShowsTheDefaultsAndResponseDelayStays) {
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> make;
    const char* delay_text;  // an empty file is read, and shows the delay it leaves alone
  };
  for (const Case& c :
       {Case{"missing", [](const fs::path&) {}, "0"},
        Case{"a directory", [](const fs::path& p) { fs::create_directory(p); }, "0"},
        Case{"empty", [](const fs::path& p) { WriteBytes(p, {}); }, "123"}}) {
    SCOPED_TRACE(c.what);
    fs::remove_all(path_);
    c.make(path_);
    Fill(form_, {"COM9", "old.bin", "0x1234", "ZARQX", "77"});
    delay_ = 123;
    LoadSettings(form_, delay_, path_);
    FormTexts expected = kDefaultTexts;
    expected.response_delay = c.delay_text;
    EXPECT_EQ(TextsOf(form_), expected);
    EXPECT_EQ(delay_.load(), 123);
  }
}

TEST_F(SettingsFile, ExampleFileLoadsAndIsSavedBackIdentically) {
  WriteBytes(path_, kExampleFile);
  LoadSettings(form_, delay_, path_);
  EXPECT_EQ(TextsOf(form_), (FormTexts{"COM1", "C:\\fw.bin", "0x2000", "ZARQX", "100"}));
  EXPECT_EQ(delay_.load(), 100);

  fs::remove(path_);
  delay_ = 0;
  SaveSettings(form_, delay_, path_);
  EXPECT_EQ(ReadBytes(path_), kExampleFile);
  EXPECT_EQ(delay_.load(), 100);
  EXPECT_EQ(FilesInDir(), std::set<std::string>{"KELVO.DAT"});
}

TEST_F(SettingsFile, DelayTextIsSavedAsItsLow16BitsAndComesBackAsTheirValue) {
  struct Case {
    std::string text;
    std::uint8_t low;
    std::uint8_t high;
    std::uint16_t value;
    std::string back;
  };
  for (const Case& c :
       {Case{"250", 0xFA, 0x00, 250, "250"}, Case{"70000", 0x70, 0x11, 4464, "4464"},
        Case{"-1", 0xFF, 0xFF, 65535, "65535"}, Case{"abc", 0, 0, 0, "0"},
        Case{"", 0, 0, 0, "0"}}) {
    SCOPED_TRACE("delay text '" + c.text + "'");
    Fill(form_, {"COM1", "a.bin", "0x2000", "ZARQX", c.text});
    delay_ = 9;
    SaveSettings(form_, delay_, path_);
    EXPECT_EQ(delay_.load(), c.value);
    const Bytes file = ReadBytes(path_);
    ASSERT_EQ(file.size(), 9u + 5 + 6);
    EXPECT_EQ(file[file.size() - 2], c.low);
    EXPECT_EQ(file[file.size() - 1], c.high);

    MemoryForm loaded;
    delay_ = 9;
    LoadSettings(loaded, delay_, path_);
    EXPECT_EQ(loaded.ReadText(Control::ResponseDelayEdit), c.back);
    EXPECT_EQ(delay_.load(), c.value);
  }
}

TEST_F(SettingsFile, FileEndingBeforeTheDelayKeepsResponseDelay) {
  WriteBytes(path_, Bytes(kExampleFile.begin(), kExampleFile.end() - 1));
  delay_ = 55;
  LoadSettings(form_, delay_, path_);
  EXPECT_EQ(TextsOf(form_), (FormTexts{"COM1", "C:\\fw.bin", "0x2000", "ZARQX", "55"}));
  EXPECT_EQ(delay_.load(), 55);
}

TEST_F(SettingsFile, DefaultNameIsKelvoDatInTheCurrentDirectory) {
  const fs::path previous = fs::current_path();
  fs::current_path(dir_);
  Fill(form_, {"USB0", "b.bin", "0x2000", "ZARQX", "3"});
  SaveSettings(form_, delay_);
  MemoryForm loaded;
  LoadSettings(loaded, delay_);
  fs::current_path(previous);
  EXPECT_EQ(ReadBytes(dir_ / "KELVO.DAT").size(), 9u + 5 + 6);
  EXPECT_EQ(TextsOf(loaded), (FormTexts{"USB0", "b.bin", "0x2000", "ZARQX", "3"}));
}

TEST_F(SettingsFile, ReadOnlyFileLoads) {
  WriteBytes(path_, kExampleFile);
  fs::permissions(dir_, fs::perms::all);
  fs::permissions(path_, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const std::string file_path = InChildProcess(
      [&] {
        MemoryForm form;
        std::atomic<std::uint16_t> delay{0};
        LoadSettings(form, delay, path_);
        return form.ReadText(Control::FileEdit);
      },
      /*unprivileged=*/true);
  EXPECT_EQ(file_path, "C:\\fw.bin");
}

TEST_F(SettingsFile, SaveReplacesAWritableFileButKeepsAReadOnlyOne) {
  fs::permissions(dir_, fs::perms::all);  // the directory never stops the save
  struct Case {
    fs::perms mode;
    bool replaced;
  };
  for (const Case& c :
       {Case{fs::perms::all, true}, Case{fs::perms::owner_read | fs::perms::others_read, false}}) {
    SCOPED_TRACE(testing::Message() << "mode " << std::oct << static_cast<int>(c.mode));
    fs::remove(path_);
    WriteBytes(path_, kExampleFile);
    fs::permissions(path_, c.mode);
    const std::string delay = InChildProcess(
        [&] {
          MemoryForm form;
          Fill(form, {"COM2", "new.bin", "0x2000", "ZARQX", "250"});
          std::atomic<std::uint16_t> response_delay{7};
          SaveSettings(form, response_delay, path_);
          return std::to_string(response_delay.load());
        },
        /*unprivileged=*/true);
    EXPECT_EQ(ReadBytes(path_).size(), c.replaced ? 9u + 7 + 6 : kExampleFile.size());
    EXPECT_EQ(delay, c.replaced ? "250" : "7");
    EXPECT_EQ(FilesInDir(), std::set<std::string>{"KELVO.DAT"});
  }
}

TEST_F(SettingsFile, SaveCutOffPartWayLeavesThePreviousFile) {
  WriteBytes(path_, kExampleFile);
  // A file size limit makes the writes fail after 10 bytes, as a full disk would.
  const std::string delay = InChildProcess([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{10, 10};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return std::string("no limit");
    MemoryForm form;
    Fill(form, {"COM2", "a much longer path.bin", "0x2000", "ZARQX", "250"});
    std::atomic<std::uint16_t> response_delay{7};
    SaveSettings(form, response_delay, path_);
    return std::to_string(response_delay.load());
  });
  EXPECT_EQ(delay, "7");
  EXPECT_EQ(ReadBytes(path_), kExampleFile);
  EXPECT_EQ(FilesInDir(), std::set<std::string>{"KELVO.DAT"});
}

TEST_F(SettingsFile, SaveIntoAMissingDirectoryChangesNothing) {
  Fill(form_, {"COM2", "a.bin", "0x2000", "ZARQX", "250"});
  delay_ = 7;
  SaveSettings(form_, delay_, dir_ / "no" / "KELVO.DAT");
  EXPECT_EQ(delay_.load(), 7);
  EXPECT_TRUE(FilesInDir().empty());
}

TEST_F(SettingsFile, SaveOverADirectoryLeavesItAndNoTemporaryFile) {
  fs::create_directory(path_);
  Fill(form_, {"COM2", "a.bin", "0x2000", "ZARQX", "250"});
  delay_ = 7;
  SaveSettings(form_, delay_, path_);
  EXPECT_TRUE(fs::is_directory(path_));
  EXPECT_EQ(delay_.load(), 7);
  EXPECT_EQ(FilesInDir(), std::set<std::string>{"KELVO.DAT"});
}

}  // namespace
}  // namespace kelvo
