// What the listing tells about each entry's kind, against asking the file
// system about the entry's full path: links are followed, anything that is
// not a folder is a file, and entries that cannot be asked about are files.
#include "temp_folder.h"

#include <NSVextra/FileTree.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using NSVextra::FileTNode;
using NSVextra::FileTree;
using NSVextra::FTR_Item;
using vxtest::TempFolder;

namespace {

// The kind by the full path, following links, as the listing must report it.
bool isFolderByPath(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

TEST(FileTreeListingKinds, EveryKindOfEntryAsItsPathSays) {
    TempFolder dir;
    dir.folder("d/folder");
    dir.file("d/file");
    dir.folder("target");
    dir.file("target/inside");
    std::filesystem::create_directory_symlink(dir / "target", dir / "d/linkToFolder");
    std::filesystem::create_symlink(dir / "d/file", dir / "d/linkToFile");
    std::filesystem::create_symlink(dir / "nowhere", dir / "d/brokenLink");
    std::filesystem::create_symlink(dir / "d/linkToFolder", dir / "d/linkToLink");
    ASSERT_EQ(mkfifo((dir / "d/pipe").c_str(), 0600), 0);

    std::vector<FTR_Item> items;
    NSVextra::readFileTree(dir / "d", items);
    const std::vector<std::string> names = {"brokenLink",   "file",       "folder", "linkToFile",
                                            "linkToFolder", "linkToLink", "pipe"};
    ASSERT_EQ(items.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(items[i].name, names[i]);
        EXPECT_EQ(items[i].folder, isFolderByPath(dir / ("d/" + names[i]))) << names[i];
    }
    // Spelled out, so that the comparison above cannot agree by accident.
    EXPECT_TRUE(items[2].folder);
    EXPECT_TRUE(items[4].folder);
    EXPECT_TRUE(items[5].folder);
    EXPECT_FALSE(items[0].folder);
    EXPECT_FALSE(items[3].folder);
    EXPECT_FALSE(items[6].folder);

    // A scan follows the link to a folder into it.
    FileTree tree;
    tree.rootFolder = dir / "d";
    ASSERT_TRUE(tree.rescan(false));
    auto* link = static_cast<FileTNode*>(tree.getSubNodeByPos(tree.getRootNode(), 4));
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->name, "linkToFolder");
    EXPECT_EQ(link->type, FileTNode::kTypeFolder);
    ASSERT_EQ(tree.getNumSubnodes(link), 1);
    EXPECT_EQ(static_cast<FileTNode*>(tree.getSubNodeByPos(link, 0))->path,
              dir / "d/linkToFolder/inside");
}

TEST(FileTreeListingKinds, EntriesOfAFolderThatCannotBeSearchedAreFiles) {
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the super-user";
    TempFolder dir;
    dir.folder("locked/sub");
    dir.file("locked/file");
    // Listed (read) but not searched (no execute): nothing can be asked about
    // an entry, so none of them counts as a folder.
    ASSERT_EQ(chmod((dir / "locked").c_str(), 0400), 0);
    std::vector<FTR_Item> items;
    NSVextra::readFileTree(dir / "locked", items);
    chmod((dir / "locked").c_str(), 0700);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].name, "file");
    EXPECT_EQ(items[1].name, "sub");
    EXPECT_FALSE(items[0].folder);
    EXPECT_FALSE(items[1].folder);
}
