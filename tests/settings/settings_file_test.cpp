#include "settings/settings_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <tuple>

#include "doubles/temp_folder.h"
#include "settings/replace_file.h"
#include "support/ordinary_user.h"
#include "transfer/form_model.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using testing::FileContents;

// The port, each text after its length byte, the ZARQX flag and the delay 100, low byte first.
const std::string kExampleFile = std::string("COM7\tC:\\fw.bin\x06") + "0x4000\x01\x64" + '\0';

// The five texts that the settings file keeps, in its order, joined by '|'.
constexpr Control kKept[] = {Control::PortCombo, Control::FileEdit, Control::StartAddressCombo,
                             Control::DeviceTypeCombo, Control::ResponseDelayEdit};

void Fill(FormModel& form, std::string texts) {
  for (const Control control : kKept) {
    form.SetText(control, texts.substr(0, texts.find('|')));
    texts.erase(0, std::min(texts.size(), texts.find('|') + 1));
  }
}

class SettingsFile : public ::testing::Test {
 protected:
  SettingsFile() { fs::permissions(dir_, fs::perms::all); }  // only the file may stop a save

  testing::TempFolder folder_{"kelvo-settings"};
  fs::path dir_ = folder_.Path();
  fs::path path_ = dir_ / "KELVO.DAT";
  FormModel form_;
  std::atomic<std::uint16_t> delay_;
};

// ResponseDelay takes the field's delay once it is saved. A file cut before the delay leaves
// ResponseDelay (0x1234), one cut after its low byte (0x64) replaces that byte only; the field
// shows the result.
TEST_F(SettingsFile, WhatIsSavedLoadsBackAndAShortFileLoadsDefaultsForTheRest) {
  Fill(form_, "COM7|C:\\fw.bin|0x4000|ZARQX|100");
  EXPECT_EQ(SaveSettings(form_, delay_, path_), "");
  EXPECT_EQ(delay_.load(), 100);
  EXPECT_EQ(FileContents(path_), kExampleFile);
  // The file's bytes if there is one, the texts shown and ResponseDelay.
  using Case = std::tuple<std::optional<std::string>, std::string, std::uint16_t>;
  for (const auto& [file, texts, delay] :
       {Case{kExampleFile, "COM7|C:\\fw.bin|0x4000|ZARQX|100", 100},
        Case{std::nullopt, "COM1||0x2000|ZARQ 40 - 580|0", 0x1234},
        Case{"", "COM1||0x2000|ZARQ 40 - 580|4660", 0x1234},
        Case{kExampleFile.substr(0, 23), "COM7|C:\\fw.bin|0x4000|ZARQX|4708", 0x1264}}) {
    SCOPED_TRACE(texts);
    fs::remove_all(path_);
    if (file) std::ofstream(path_, std::ios::binary) << *file;
    Fill(form_, "COM9|old.bin|0x1234|ZARQX|77");
    delay_ = 0x1234;
    LoadSettings(form_, delay_, path_);
    std::string shown;
    for (const Control control : kKept)
      shown.append(shown.empty() ? "" : "|").append(form_.ReadText(control));
    EXPECT_EQ(shown, texts);
    EXPECT_EQ(delay_.load(), delay);
  }
}

// Each save here fails for an ordinary user; a file that may not be written still loads.
TEST_F(SettingsFile, AFailedSaveLeavesWhatWasThereAndResponseDelay) {
  struct Case {
    const char* what;
    fs::perms mode;           // of the example file; none: a directory stands in its place
    rlim_t size_limit;        // 0, or the size beyond which writes fail, as on a full disk
    bool zeros_link = false;  // a link to /dev/zero stands in its place
  };
  for (const Case& c :
       {Case{"read-only", fs::perms::owner_read | fs::perms::others_read, 0},
        Case{"cut off part way", fs::perms::all, 10}, Case{"a directory", fs::perms::none, 0},
        Case{"a link to endless bytes", fs::perms::all, 0, true}}) {
    SCOPED_TRACE(c.what);
    const bool directory = c.mode == fs::perms::none;
    fs::remove_all(path_);
    if (c.zeros_link) {
      fs::create_symlink("/dev/zero", path_);
    } else if (directory) {
      fs::create_directory(path_);
    } else {
      std::ofstream(path_, std::ios::binary) << kExampleFile;
      fs::permissions(path_, c.mode);
    }
    const auto load_and_save = [&] {
      ::alarm(5);  // a read without end
      ::signal(SIGXFSZ, SIG_IGN);
      rlimit before{};
      ::getrlimit(RLIMIT_FSIZE, &before);
      const rlimit limit{c.size_limit, before.rlim_max};  // soft only: the report needs it back
      if (c.size_limit > 0 && ::setrlimit(RLIMIT_FSIZE, &limit) != 0) std::_Exit(3);
      FormModel form;
      std::atomic<std::uint16_t> delay{7};
      LoadSettings(form, delay, path_);
      const std::string loaded = form.ReadText(Control::FileEdit);
      Fill(form, "COM2|a much longer path.bin|0x2000|ZARQX|250");
      SaveSettings(form, delay, path_);
      ::setrlimit(RLIMIT_FSIZE, &before);
      return "[" + loaded + " " + std::to_string(delay.load()) + "]";
    };
    EXPECT_EXIT(testing::AsOrdinaryUser(load_and_save), ::testing::ExitedWithCode(0),
                directory || c.zeros_link ? "^\\[ 7\\]$" : "^\\[C:\\\\fw\\.bin 100\\]$");
    EXPECT_TRUE(c.zeros_link ? fs::is_character_file(path_)
                : directory  ? fs::is_directory(path_)
                             : FileContents(path_) == kExampleFile);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1) << "a temporary file is left";
  }
}

// The file that a link names takes the new bytes in its own folder, keeping its mode.
TEST_F(SettingsFile, ReplacingKeepsTheModeAndFollowsALinkToTheFileItNames) {
  const fs::path shared = dir_ / "shared", file = shared / "KELVO.DAT";
  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::create_directory(shared);
  std::ofstream(file) << "old bytes";
  fs::permissions(file, mode);
  fs::create_symlink(file, path_);
  EXPECT_EQ(ReplaceFileContents(path_.string(), std::vector<std::uint8_t>{'n', 'e', 'w'}), "");
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_EQ(FileContents(file), "new");
  EXPECT_EQ(fs::status(file).permissions(), mode);
  EXPECT_EQ(std::distance(fs::directory_iterator(shared), {}), 1) << "a temporary file is left";
}

// Another user (nobody) plants files in the shared folder for the save to follow: the save
// stays with the operator's own files.
TEST_F(SettingsFile, WhatAnotherUserPlantsDoesNotLeadTheSave) {
  if (::geteuid() != 0) GTEST_SKIP() << "root stands for the operator, to own files as nobody";
  const fs::path own = dir_ / "profile", theirs = dir_ / "theirs", none = dir_ / "none";
  const auto link = [](const fs::path& to, const fs::path& at, bool nobodys) {
    fs::create_symlink(to, at);
    EXPECT_TRUE(!nobodys || ::lchown(at.c_str(), testing::kNobody, testing::kNobody) == 0);
  };
  // The old save's temporary name, made first and open to all.
  const fs::path guessed = path_.string() + "." + std::to_string(::getpid()) + ".tmp";
  struct Case {
    const char* what;
    std::function<void()> plant;
    const char* why;
  };
  for (const Case& c : {
           Case{"their link to the operator's file", [&] { link(own, path_, true); },
                "it is a link owned by another user"},
           Case{"the operator's link to theirs",
                [&] {
                  link(own, theirs, true);
                  link(theirs, path_, false);
                },
                "it is a link owned by another user"},
           Case{"a link to no file", [&] { link(none, path_, false); }, "it is a link to no file"},
           Case{"the temporary file, made first",
                [&] {
                  std::ofstream(guessed) << "theirs";
                  fs::permissions(guessed, fs::perms::all);
                  EXPECT_EQ(::chown(guessed.c_str(), testing::kNobody, testing::kNobody), 0);
                },
                ""},
       }) {
    SCOPED_TRACE(c.what);
    for (const fs::path& file : {path_, theirs, guessed, none}) fs::remove(file);
    std::ofstream(own) << "own";
    c.plant();
    EXPECT_EQ(ReplaceFileContents(path_.string(), std::vector<std::uint8_t>{'n', 'e', 'w'}), c.why);
    EXPECT_EQ(FileContents(own), "own");
    EXPECT_FALSE(fs::exists(none));
    if (*c.why != '\0') continue;
    EXPECT_EQ(FileContents(guessed), "theirs");
    EXPECT_EQ(FileContents(path_), "new");
  }
}

// A shared folder where the operator may write the file but make no new one.
TEST_F(SettingsFile, ReplacingRewritesInPlaceWhereTheFolderTakesNoNewFile) {
  const fs::path empty = dir_ / "empty";
  fs::create_directory(empty);
  std::ofstream(path_) << "old bytes";
  fs::permissions(path_, fs::perms::all);
  for (const fs::path& folder : {dir_, empty})
    fs::permissions(folder, fs::perms::owner_write | fs::perms::others_write,
                    fs::perm_options::remove);
  const auto replace = [&] {
    const std::vector<std::uint8_t> bytes = {'n', 'e', 'w'};
    const std::string in_place = ReplaceFileContents(path_.string(), bytes);
    return "[" + in_place + "|" + ReplaceFileContents((empty / "KELVO.DAT").string(), bytes) + "]";
  };
  EXPECT_EXIT(testing::AsOrdinaryUser(replace), ::testing::ExitedWithCode(0), "^\\[\\|.+\\]$");
  fs::permissions(dir_, fs::perms::all);
  EXPECT_EQ(FileContents(path_), "new");
  EXPECT_TRUE(fs::is_empty(empty));
}

}  // namespace
}  // namespace kelvo
