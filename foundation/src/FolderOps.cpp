#include <NSVextra/FolderOps.h>

#include <NSVextra/FileTree.h>

namespace NSVextra {

namespace {

// No cache: these operations must see the folder as it is now.
void scanFolder(FileTree& tree, const std::string& folder) {
    tree.rootFolder = folder;
    tree.rescan(false);
}

} // namespace

bool copyFolder(const std::string& srcFolder, const std::string& dstFolder) {
    FileTree tree;
    scanFolder(tree, srcFolder);
    return tree.copyToFolder(dstFolder);
}

bool removeFolder(const std::string& folder) {
    FileTree tree;
    scanFolder(tree, folder);
    return tree.removeFiles(folder);
}

int folderGetNumNestedSubfolders(const std::string& folder) {
    FileTree tree;
    scanFolder(tree, folder);
    const int deepest = tree.getNumLevels() - 1;
    int nested = 0;
    for (int level = 1; level <= deepest; ++level) {
        int numFolders = 0;
        int numFiles = 0;
        tree.getNumItemsAtLevel(level, numFolders, numFiles);
        if (numFolders == 0)
            break;
        nested = level;
    }
    return nested;
}

int folderGetNumFilesAtLevel(const std::string& folder, int level) {
    FileTree tree;
    scanFolder(tree, folder);
    int numFolders = 0;
    int numFiles = 0;
    tree.getNumItemsAtLevel(level, numFolders, numFiles);
    return numFiles;
}

} // namespace NSVextra
