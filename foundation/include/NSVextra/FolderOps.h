// Whole-folder operations built on a temporary FileTree of the folder.
#pragma once

#include <string>

namespace NSVextra {

// Copies the folder's files and sub-folders into dstFolder, which is created
// and must not exist yet. False at the first failure (already logged).
bool copyFolder(const std::string& srcFolder, const std::string& dstFolder);

// Removes the folder with everything a scan finds in it.
bool removeFolder(const std::string& folder);

// How many levels of sub-folders lie below the folder: 0 without
// sub-folders, 2 when the deepest folders are grandchildren.
int folderGetNumNestedSubfolders(const std::string& folder);

// The number of files at that depth below the folder (1 for the folder's own
// files); 0 for a level deeper than the tree.
int folderGetNumFilesAtLevel(const std::string& folder, int level);

} // namespace NSVextra
