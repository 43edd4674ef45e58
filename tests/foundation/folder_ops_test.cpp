#include "support.h"

#include <NSVextra/FileTree.h>
#include <NSVextra/FolderOps.h>

#include <gtest/gtest.h>

using NSVextra::FileTree;
using vxtest::exists;
using vxtest::readFile;
using vxtest::TempDir;

namespace {

// src: a/ (f, b/ (h)), empty/, g, ~t
void makeSource(const TempDir& dir) {
    dir.folder("src/a/b");
    dir.folder("src/empty");
    dir.file("src/a/f", "file f");
    dir.file("src/a/b/h", "file h");
    dir.file("src/g", "file g");
    dir.file("src/~t", "file ~t");
}

std::string newLogLines(const std::string& before) {
    return vxtest::readLog().substr(before.size());
}

} // namespace

TEST(FileTreeOps, CopyReproducesFoldersAndFiles) {
    TempDir dir;
    makeSource(dir);
    ASSERT_TRUE(NSVextra::copyFolder(dir / "src", dir / "dst"));
    EXPECT_EQ(readFile(dir / "dst/a/f"), "file f");
    EXPECT_EQ(readFile(dir / "dst/a/b/h"), "file h");
    EXPECT_EQ(readFile(dir / "dst/g"), "file g");
    EXPECT_EQ(readFile(dir / "dst/~t"), "file ~t");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "dst/empty"));
    EXPECT_EQ(NSVextra::folderGetNumFilesAtLevel(dir / "dst", 1), 2);
    // The source is untouched.
    EXPECT_EQ(readFile(dir / "src/a/b/h"), "file h");

    // A destination that cannot be created stops the copy before any file.
    const std::string before = vxtest::readLog();
    FileTree tree;
    tree.rootFolder = dir / "src";
    ASSERT_TRUE(tree.rescan(false));
    EXPECT_FALSE(tree.copyToFolder(dir / "missing/parent/dst"));
    EXPECT_FALSE(exists(dir / "missing"));
    // So does one that is already there.
    dir.folder("taken");
    EXPECT_FALSE(tree.copyToFolder(dir / "taken"));
    EXPECT_FALSE(exists(dir / "taken/g"));
    EXPECT_EQ(vxtest::countLines(newLogLines(before), "error: failed to create top folder"), 2);

    // A file that disappeared after the scan ends the copy with the file line.
    std::filesystem::remove(dir / "src/a/f");
    const std::string before2 = vxtest::readLog();
    EXPECT_FALSE(tree.copyToFolder(dir / "dst2"));
    EXPECT_EQ(vxtest::countLines(newLogLines(before2), "error: failed to copy/remove file"), 1);
    EXPECT_TRUE(exists(dir / "dst2/a"));
    EXPECT_FALSE(exists(dir / "dst2/g")); // nothing after the failure

    // An empty tree has nothing to copy.
    FileTree empty;
    EXPECT_FALSE(empty.copyToFolder(dir / "dst3"));
    EXPECT_FALSE(exists(dir / "dst3"));
}

TEST(FileTreeOps, RemoveStopsAtAFolderHoldingAnExtraFile) {
    TempDir dir;
    makeSource(dir);
    ASSERT_TRUE(NSVextra::copyFolder(dir / "src", dir / "dst"));
    dir.file("dst/a/b/extra", "not in the tree");
    dir.file("dst/other", "not in the tree either");

    FileTree tree;
    tree.rootFolder = dir / "src";
    ASSERT_TRUE(tree.rescan(false));
    const std::string before = vxtest::readLog();
    EXPECT_FALSE(tree.removeFiles(dir / "dst"));
    EXPECT_EQ(vxtest::countLines(newLogLines(before), "error: failed to remove top folder"), 1);

    // Depth first: b's listed file went, b itself stays with the extra file,
    // and nothing above it was touched.
    EXPECT_FALSE(exists(dir / "dst/a/b/h"));
    EXPECT_TRUE(exists(dir / "dst/a/b/extra"));
    EXPECT_TRUE(exists(dir / "dst/a"));
    EXPECT_EQ(readFile(dir / "dst/a/f"), "file f"); // "b" sorts before "f": never reached
    EXPECT_TRUE(exists(dir / "dst/g"));
    EXPECT_TRUE(exists(dir / "dst/empty"));
    // The source tree is not what was removed.
    EXPECT_EQ(readFile(dir / "src/a/b/h"), "file h");

    // With the extra files gone, a second pass fails at the file already
    // removed, which shows it removes by the tree's list, not by the disk.
    std::filesystem::remove(dir / "dst/a/b/extra");
    std::filesystem::remove(dir / "dst/other");
    const std::string before2 = vxtest::readLog();
    EXPECT_FALSE(tree.removeFiles(dir / "dst"));
    EXPECT_EQ(vxtest::countLines(newLogLines(before2), "error: failed to copy/remove file"), 1);
}

TEST(FileTreeOps, RemoveFolderDeletesTheWholeFolder) {
    TempDir dir;
    makeSource(dir);
    ASSERT_TRUE(NSVextra::copyFolder(dir / "src", dir / "dst"));
    EXPECT_TRUE(NSVextra::removeFolder(dir / "dst"));
    EXPECT_FALSE(exists(dir / "dst"));
    EXPECT_TRUE(exists(dir / "src/a/b/h"));

    // Nothing there: nothing to remove.
    EXPECT_FALSE(NSVextra::removeFolder(dir / "dst"));
    EXPECT_FALSE(NSVextra::removeFolder(""));
    EXPECT_TRUE(exists(dir.path()));
}

TEST(FileTreeOps, RemovalTakesLinksAwayButNotWhatTheyPointAt) {
    TempDir dir;
    dir.folder("outside/deep");
    dir.file("outside/keep", "kept");
    dir.file("outside/deep/keep2", "kept");
    dir.folder("doomed/sub");
    dir.file("doomed/sub/f");
    std::filesystem::create_directory_symlink(dir / "outside", dir / "doomed/sub/link");

    EXPECT_TRUE(NSVextra::removeFolder(dir / "doomed"));
    EXPECT_FALSE(exists(dir / "doomed"));
    EXPECT_EQ(readFile(dir / "outside/keep"), "kept");
    EXPECT_EQ(readFile(dir / "outside/deep/keep2"), "kept");

    // Named directly, a link to a folder is removed as the link alone.
    std::filesystem::create_directory_symlink(dir / "outside", dir / "direct");
    EXPECT_TRUE(NSVextra::removeFolder(dir / "direct"));
    EXPECT_FALSE(std::filesystem::is_symlink(dir / "direct"));
    EXPECT_EQ(readFile(dir / "outside/keep"), "kept");
}

TEST(FolderOps, CountsNestingAndFilesPerLevel) {
    TempDir dir;
    makeSource(dir);
    EXPECT_EQ(NSVextra::folderGetNumNestedSubfolders(dir / "src"), 2);
    EXPECT_EQ(NSVextra::folderGetNumNestedSubfolders(dir / "src/a"), 1);
    EXPECT_EQ(NSVextra::folderGetNumNestedSubfolders(dir / "src/a/b"), 0);
    EXPECT_EQ(NSVextra::folderGetNumNestedSubfolders(dir / "src/empty"), 0);
    EXPECT_EQ(NSVextra::folderGetNumNestedSubfolders(dir / "missing"), 0);

    // Files only at the deepest level do not count as nesting.
    dir.folder("files/x");
    dir.file("files/x/y");
    EXPECT_EQ(NSVextra::folderGetNumNestedSubfolders(dir / "files"), 1);

    EXPECT_EQ(NSVextra::folderGetNumFilesAtLevel(dir / "src", 0), 0);
    EXPECT_EQ(NSVextra::folderGetNumFilesAtLevel(dir / "src", 1), 2);
    EXPECT_EQ(NSVextra::folderGetNumFilesAtLevel(dir / "src", 2), 1);
    EXPECT_EQ(NSVextra::folderGetNumFilesAtLevel(dir / "src", 3), 1);
    EXPECT_EQ(NSVextra::folderGetNumFilesAtLevel(dir / "src", 4), 0);
    EXPECT_EQ(NSVextra::folderGetNumFilesAtLevel(dir / "src", -1), 0);
}
