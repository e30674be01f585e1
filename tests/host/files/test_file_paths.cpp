// Paths cut and joined by text, and the partial names built on them: a
// folder's dot or a name's leading dot must not pass for an extension, and
// a marker in a folder's name must not pass for a partial file.
#include <gtest/gtest.h>

#include "files/file_paths.h"
#include "files/partial_name.h"

using namespace bvhost;

TEST(FilePaths, SplitAndJoinKeepTheRootAndBareNames) {
  const PathParts nested = splitPath("rec/day.1/a.bdf");
  EXPECT_EQ(nested.folder, "rec/day.1");
  EXPECT_EQ(nested.name, "a.bdf");
  const PathParts bare = splitPath("a.bdf");
  EXPECT_EQ(bare.folder, ".");
  EXPECT_EQ(bare.name, "a.bdf");
  const PathParts root = splitPath("/a.bdf");
  EXPECT_EQ(root.folder, "/");
  EXPECT_EQ(root.name, "a.bdf");
  for (const std::string path : {"/a.bdf", "/x/a.bdf", "./a.bdf"}) {
    const PathParts parts = splitPath(path);
    EXPECT_EQ(joinPath(parts.folder, parts.name), path);
  }
  EXPECT_EQ(folderOf("/x/a.bdf"), "/x");
}

TEST(FilePaths, OnlyTheLastNameCarriesAnExtension) {
  EXPECT_EQ(extensionStart("rec/a.bdf"), 5u);
  EXPECT_EQ(extensionStart("rec/a.tar.bdf"), 9u);
  EXPECT_EQ(extensionStart("rec.d/a"), std::string::npos);
  EXPECT_EQ(extensionStart("rec/.bdf"), std::string::npos);
  EXPECT_EQ(extensionStart("a"), std::string::npos);
}

TEST(PartialName, ATemplateNamesItsTargetBackAndNothingElseDoes) {
  int suffix = 0;
  EXPECT_EQ(partialTemplate("rec.d/a.bdf", suffix), "rec.d/a.partial-XXXXXX.bdf");
  EXPECT_EQ(suffix, 4);
  EXPECT_EQ(partialTemplate("rec.d/a", suffix), "rec.d/a.partial-XXXXXX");
  EXPECT_EQ(suffix, 0);
  EXPECT_EQ(partialTemplate("rec/.bdf", suffix), "rec/.bdf.partial-XXXXXX");

  EXPECT_EQ(intendedPath("rec.d/a.partial-Ab12cd.bdf"), "rec.d/a.bdf");
  EXPECT_EQ(intendedPath("rec.d/a.partial-Ab12cd"), "rec.d/a");
  EXPECT_EQ(intendedPath("rec/.bdf.partial-Ab12cd"), "rec/.bdf");
  EXPECT_EQ(intendedPath("rec.d/a.bdf"), std::nullopt);
  EXPECT_EQ(intendedPath("rec.d/a.partial-Ab12.bdf"), std::nullopt);
  // The marker lies in the folder's name, not the file's, or leaves the
  // file no name of its own.
  EXPECT_EQ(intendedPath("x.partial-Ab12cd/bdf"), std::nullopt);
  EXPECT_EQ(intendedPath("rec/.partial-Ab12cd.bdf"), std::nullopt);
  EXPECT_EQ(intendedPath(".partial-Ab12cd"), std::nullopt);

  // Whatever the target's name, its partial file names it back.
  for (const std::string target :
       {"a.bdf", "rec/a", "/a.tar.csv", "rec.d/.hidden", "rec/a.partial-Qw12er.edf"}) {
    std::string partial = partialTemplate(target, suffix);
    partial.replace(partial.rfind("XXXXXX"), 6, "Zx9Yw8");
    EXPECT_EQ(intendedPath(partial), target) << partial;
  }
}
