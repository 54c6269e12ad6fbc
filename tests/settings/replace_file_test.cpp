#include "settings/replace_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "support/read_only.h"
#include "support/temp_folder.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;

const std::vector<std::uint8_t> kNew = {'n', 'e', 'w'};

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ReplaceFile : public ::testing::Test {
 protected:
  testing::TempFolder temp_{"kelvo-replace"};
  fs::path folder_ = temp_.Path() / "shared";
  fs::path file_ = folder_ / "KELVO.DAT";
  void SetUp() override {
    fs::create_directory(folder_);
    std::ofstream(file_) << "old bytes";
  }
};

TEST_F(ReplaceFile, KeepsTheModeAndFollowsALinkToTheFileItNames) {
  fs::permissions(file_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const fs::path link = temp_.Path() / "KELVO.DAT";
  fs::create_symlink(file_, link);
  EXPECT_EQ(ReplaceFileContents(link.string(), kNew), "");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Contents(file_), "new");
  EXPECT_EQ(fs::status(file_).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), {}), 1) << "a temporary file is left";
}

// A shared folder where the operator may write the file but make no new one.
TEST_F(ReplaceFile, RewritesInPlaceWhereTheFolderTakesNoNewFile) {
  const fs::path empty = temp_.Path() / "empty";
  fs::create_directory(empty);
  const testing::ReadOnly read_only(folder_), no_file(empty);
  ASSERT_TRUE(read_only.Holds() && no_file.Holds());
  EXPECT_EQ(ReplaceFileContents(file_.string(), kNew), "");
  EXPECT_EQ(Contents(file_), "new");
  EXPECT_NE(ReplaceFileContents((empty / "KELVO.DAT").string(), kNew), "");
  EXPECT_TRUE(fs::is_empty(empty));
}

}  // namespace
}  // namespace kelvo
