#include "support.h"

#include <NSVextra/FileTree.h>
#include <NSVextra/FolderOps.h>

using NSVextra::FileTree;
using vxtest::exists;
using vxtest::readFile;
using vxtest::TempDir;

namespace {

// src: a/ (f, b/ (h)), empty/, g, ~t
void makeSource(const TempDir& dir) {
    dir.folder("src/a/b");
    dir.folder("src/empty");
    for (const char* f : {"a/f", "a/b/h", "g", "~t"})
        dir.file(std::string("src/") + f, std::string("file ") + f);
}

} // namespace

TEST(FileTreeOps, CopyReproducesFoldersAndFilesOrStopsAtTheFirstFailure) {
    TempDir dir;
    makeSource(dir);
    ASSERT_TRUE(NSVextra::copyFolder(dir / "src", dir / "dst"));
    for (const char* f : {"a/f", "a/b/h", "g", "~t"})
        EXPECT_EQ(readFile(dir / "dst/" + f), std::string("file ") + f);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "dst/empty"));

    // A destination that cannot be created, or is already there, stops the
    // copy before any file.
    std::string before = vxtest::readLog();
    FileTree tree;
    tree.rootFolder = dir / "src";
    ASSERT_TRUE(tree.rescan(false));
    EXPECT_FALSE(tree.copyToFolder(dir / "missing/parent/dst"));
    EXPECT_FALSE(exists(dir / "missing"));
    dir.folder("taken");
    EXPECT_FALSE(tree.copyToFolder(dir / "taken"));
    EXPECT_FALSE(exists(dir / "taken/g"));
    EXPECT_EQ(vxtest::loggedSince(before, "error: failed to create top folder"), 2);

    // A file that disappeared after the scan ends the copy there.
    std::filesystem::remove(dir / "src/a/f");
    before = vxtest::readLog();
    EXPECT_FALSE(tree.copyToFolder(dir / "dst2"));
    EXPECT_EQ(vxtest::loggedSince(before, "error: failed to copy/remove file"), 1);
    EXPECT_TRUE(exists(dir / "dst2/a"));
    EXPECT_FALSE(exists(dir / "dst2/g"));
    EXPECT_FALSE(FileTree().copyToFolder(dir / "dst3")); // an empty tree copies nothing
    EXPECT_FALSE(exists(dir / "dst3"));
}

TEST(FileTreeOps, RemovalGoesByTheTreeDepthFirstAndStopsAtAnExtraFile) {
    TempDir dir;
    makeSource(dir);
    ASSERT_TRUE(NSVextra::copyFolder(dir / "src", dir / "dst"));
    dir.file("dst/a/b/extra");
    FileTree tree;
    tree.rootFolder = dir / "src";
    ASSERT_TRUE(tree.rescan(false));
    std::string before = vxtest::readLog();
    EXPECT_FALSE(tree.removeFiles(dir / "dst"));
    EXPECT_EQ(vxtest::loggedSince(before, "error: failed to remove top folder"), 1);
    // b's listed file went; b stays with the extra file; "f" sorts after "b"
    // and was never reached.
    EXPECT_FALSE(exists(dir / "dst/a/b/h"));
    EXPECT_TRUE(exists(dir / "dst/a/b/extra"));
    EXPECT_EQ(readFile(dir / "dst/a/f"), "file a/f");
    EXPECT_TRUE(exists(dir / "dst/g"));
    EXPECT_EQ(readFile(dir / "src/a/b/h"), "file a/b/h");
    // A second pass fails at the file already removed: by the tree's list.
    std::filesystem::remove(dir / "dst/a/b/extra");
    before = vxtest::readLog();
    EXPECT_FALSE(tree.removeFiles(dir / "dst"));
    EXPECT_EQ(vxtest::loggedSince(before, "error: failed to copy/remove file"), 1);

    EXPECT_TRUE(NSVextra::removeFolder(dir / "src"));
    EXPECT_FALSE(exists(dir / "src"));
    EXPECT_FALSE(NSVextra::removeFolder(dir / "src")); // nothing there
    EXPECT_FALSE(NSVextra::removeFolder(""));
    EXPECT_TRUE(exists(dir.path()));
}

TEST(FileTreeOps, RemovalTakesLinksAwayButNotWhatTheyPointAt) {
    TempDir dir;
    dir.folder("outside/deep");
    dir.file("outside/deep/keep", "kept");
    dir.folder("doomed/sub");
    std::filesystem::create_directory_symlink(dir / "outside", dir / "doomed/sub/link");
    std::filesystem::create_directory_symlink(dir / "outside", dir / "direct");
    EXPECT_TRUE(NSVextra::removeFolder(dir / "doomed"));
    EXPECT_FALSE(exists(dir / "doomed"));
    EXPECT_TRUE(NSVextra::removeFolder(dir / "direct")); // named directly: the link alone
    EXPECT_FALSE(std::filesystem::is_symlink(dir / "direct"));
    EXPECT_EQ(readFile(dir / "outside/deep/keep"), "kept");
}

TEST(FolderOps, CountsNestingAndFilesPerLevel) {
    TempDir dir;
    makeSource(dir);
    dir.folder("files/x"); // files only at the deepest level are no nesting
    dir.file("files/x/y");
    const std::pair<const char*, int> nesting[] = {{"src", 2},       {"src/a", 1},   {"src/a/b", 0},
                                                   {"src/empty", 0}, {"missing", 0}, {"files", 1}};
    for (const auto& [folder, want] : nesting)
        EXPECT_EQ(NSVextra::folderGetNumNestedSubfolders(dir / folder), want) << folder;
    const int filesAt[] = {0, 2, 1, 1, 0};
    for (int level = -1; level < 5; ++level)
        EXPECT_EQ(NSVextra::folderGetNumFilesAtLevel(dir / "src", level),
                  level < 0 ? 0 : filesAt[level])
            << level;
}
