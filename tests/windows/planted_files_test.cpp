#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "doubles/temp_folder.h"
#include "image/output_file.h"
#include "settings/replace_file.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using testing::FileContents;

// In a folder of its own, also the current one, so that a file is named both relative and in full.
class PlantedFiles : public ::testing::Test {
 protected:
  PlantedFiles() { fs::current_path(dir_); }
  ~PlantedFiles() override { fs::current_path(home_); }

  const fs::path home_ = fs::current_path();
  const testing::TempFolder folder_{"kelvo-planted"};
  const fs::path& dir_ = folder_.Path();
};

TEST_F(PlantedFiles, OutputGoesOnlyToAPlainFileThatIsNotBeingSent) {
  std::ofstream("image.bin") << "image";
  std::ofstream("old.txt") << "an older trace";
  ASSERT_TRUE(::CreateHardLinkA("alias.bin", "image.bin", nullptr));
  fs::create_directory("folder");
  const std::string pipe_name = R"(\\.\pipe\kelvo-output)";
  const HANDLE pipe =
      ::CreateNamedPipeA(pipe_name.c_str(), PIPE_ACCESS_INBOUND, 0, 1, 0, 0, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  const std::string image = (dir_ / "image.bin").string();
  const std::pair<std::string, std::string> cases[] = {
      // the path, and why it is not written
      {"old.txt", ""},
      {"new.txt", ""},
      {image, image + " is the file being sent: not written"},
      {"alias.bin", "alias.bin is the file being sent: not written"},
      {"folder", "folder is not a regular file: not written"},
      {"NUL", "NUL is not a regular file: not written"},
      {pipe_name, pipe_name + " is not a regular file: not written"}};
  for (const auto& [path, want] : cases) {
    std::string why;
    std::FILE* file = OpenOutputFile(path, {"script.scr", "image.bin"}, why);
    EXPECT_EQ(file != nullptr, want.empty()) << path;
    if (file) {
      std::fputs("trace\n", file);
      std::fclose(file);
      EXPECT_EQ(FileContents(path), "trace\n") << path;
    }
    EXPECT_EQ(why, want) << path;
  }
  EXPECT_EQ(FileContents("image.bin"), "image");
  ::CloseHandle(pipe);
}

// Another user who can foresee the name of the save's temporary file plants a link there to one
// of the user's files, for the save to overwrite.
TEST_F(PlantedFiles, SettingsSaveLeavesAFilePlantedBesideItAlone) {
  std::ofstream("victim") << "the user's own";
  const std::string planted =
      (dir_ / "KELVO.DAT").string() + "." + std::to_string(::GetCurrentProcessId()) + ".tmp";
  ASSERT_TRUE(::CreateHardLinkA(planted.c_str(), "victim", nullptr));
  const std::uint8_t bytes[] = {'C', 'O', 'M', '1'};
  EXPECT_EQ(ReplaceFileContents("KELVO.DAT", bytes), "");
  EXPECT_EQ(FileContents("KELVO.DAT"), "COM1");
  EXPECT_EQ(FileContents("victim"), "the user's own");
}

}  // namespace
}  // namespace kelvo
