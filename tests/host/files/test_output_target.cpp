// Outputs are refused before a run when writing them would go wrong, and a
// partial file reaches its target only whole.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "files/output_error.h"
#include "files/output_paths.h"
#include "files/partial_file.h"
#include "files/partial_name.h"

using ::testing::HasSubstr;
namespace fs = std::filesystem;
using namespace bvhost;

namespace {

class OutputTarget : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("bvhost_out_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "sub");
    dir_ = fs::canonical(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string at(const std::string& name) const { return (dir_ / name).string(); }
  void put(const std::string& name, const std::string& text) const {
    std::ofstream(at(name), std::ios::binary) << text;
  }
  static std::string read(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }

  // The message checkOutputs throws for these paths, or "" when it accepts.
  static std::string refusal(const std::vector<std::string>& paths,
                             std::vector<OutputFile>* checked = nullptr) {
    std::vector<OutputFile> outputs;
    for (const auto& path : paths) {
      outputs.push_back(OutputFile{path, OutputFormat::Bdf, {}});
    }
    try {
      checkOutputs(outputs);
    } catch (const OutputError& error) {
      return error.what();
    }
    if (checked != nullptr) {
      *checked = outputs;
    }
    return "";
  }

  fs::path dir_;
};

TEST_F(OutputTarget, RefusesWhatCannotBeARegularFileInAnExistingFolder) {
  EXPECT_THAT(refusal({at("none/a.bdf")}), HasSubstr("folder " + at("none") + " does not exist"));
  put("plain", "x");
  EXPECT_THAT(refusal({at("plain/a.bdf")}), HasSubstr(at("plain") + " is not a folder"));
  EXPECT_EQ(refusal({at("sub")}), at("sub") + " is a directory");
  ASSERT_EQ(mkfifo(at("fifo.bdf").c_str(), 0600), 0);
  EXPECT_EQ(refusal({at("fifo.bdf")}), at("fifo.bdf") + " is a FIFO, not a regular file");
  EXPECT_EQ(refusal({"/dev/null"}), "/dev/null is a character device, not a regular file");
  fs::create_symlink(at("gone.bdf"), at("dangling.bdf"));
  EXPECT_THAT(refusal({at("dangling.bdf")}), HasSubstr("symbolic link to " + at("gone.bdf")));
  if (geteuid() != 0) {  // root may write to any folder
    fs::permissions(at("sub"), fs::perms::owner_write, fs::perm_options::remove);
    EXPECT_THAT(refusal({at("sub/a.bdf")}), HasSubstr("folder " + at("sub") + " is not writable"));
    fs::permissions(at("sub"), fs::perms::owner_write, fs::perm_options::add);
  }
}

TEST_F(OutputTarget, FinalPathsAreCanonicalAndFollowLinksButNotTwoToOneFile) {
  put("a.bdf", "old");
  fs::create_symlink("a.bdf", at("link.bdf"));
  fs::create_hard_link(at("a.bdf"), at("hard.bdf"));
  fs::create_directory_symlink("sub", at("subLink"));
  std::vector<OutputFile> outputs;
  ASSERT_EQ(refusal({at("sub/../new.bdf"), at("link.bdf"), at("subLink/./a.bdf")}, &outputs), "");
  EXPECT_EQ(outputs[0].finalPath, at("new.bdf"));
  EXPECT_EQ(outputs[1].finalPath, at("a.bdf"));
  EXPECT_EQ(outputs[2].finalPath, at("sub/a.bdf"));
  EXPECT_EQ(read(at("a.bdf")), "old");
  EXPECT_FALSE(fs::exists(at("new.bdf")));

  EXPECT_EQ(refusal({at("b.bdf"), at("sub/../b.bdf")}),
            "--out " + at("b.bdf") + " and --out " + at("sub/../b.bdf") + " name the same file");
  EXPECT_THAT(refusal({at("c.csv"), at("a.bdf"), at("link.bdf")}),
              HasSubstr(at("a.bdf") + " and --out " + at("link.bdf") + " name"));
  EXPECT_THAT(refusal({at("hard.bdf"), at("a.bdf")}), HasSubstr("name the same file"));
}

TEST_F(OutputTarget, APartialFileLiesBesideItsTargetWithTheUsualPermissions) {
  const mode_t mask = umask(027);
  PartialFile partial(at("a.bdf"));
  umask(mask);
  EXPECT_EQ(intendedPath(partial.path()), at("a.bdf"));
  EXPECT_THAT(partial.path(), ::testing::StartsWith(at("a.partial-")));
  struct stat info {};
  ASSERT_EQ(stat(partial.path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_FALSE(fs::exists(at("a.bdf")));
  EXPECT_THROW(PartialFile(at("none/a.bdf")), OutputError);
}

TEST_F(OutputTarget, CommitRenamesOverTheTargetOrKeepsThePartialAndSaysWhere) {
  put("a.bdf", "old");
  PartialFile partial(at("a.bdf"));
  std::ofstream(partial.path(), std::ios::binary) << "new";
  struct stat written {
  }, committed{};
  ASSERT_EQ(stat(partial.path().c_str(), &written), 0);
  partial.commit();
  ASSERT_EQ(stat(at("a.bdf").c_str(), &committed), 0);
  EXPECT_EQ(committed.st_ino, written.st_ino);
  EXPECT_EQ(read(at("a.bdf")), "new");
  EXPECT_FALSE(fs::exists(partial.path()));

  fs::create_directories(at("d.bdf/inside"));
  std::string kept;
  {
    PartialFile failing(at("d.bdf"));
    kept = failing.path();
    EXPECT_THAT([&] { failing.commit(); },
                ::testing::ThrowsMessage<OutputError>(HasSubstr("the recording stays at " + kept)));
  }
  EXPECT_TRUE(fs::exists(kept));
}

TEST_F(OutputTarget, OnlyAPartialFileNeitherCommittedNorKeptIsRemoved) {
  std::string dropped, kept;
  {
    PartialFile moved(at("a.bdf"));
    dropped = moved.path();
    PartialFile holder = std::move(moved);
    PartialFile keeper(at("b.bdf"));
    kept = keeper.path();
    keeper.keep();
    PartialFile discarded(at("c.bdf"));
    discarded.discard();
    EXPECT_FALSE(fs::exists(discarded.path()));
    EXPECT_TRUE(fs::exists(dropped));
  }
  EXPECT_FALSE(fs::exists(dropped));
  EXPECT_TRUE(fs::exists(kept));
}

}  // namespace
