// A tree that mirrors a folder on disk: one FileTNode per sub-folder and
// file, in the sorted order of the listing, with folders and files numbered
// depth first. It is filled by scanning the disk or from its cache file, and
// can copy or remove its files below another folder.
#pragma once

#include <NSVextra/Tree.h>

#include <string>
#include <vector>

namespace NSVextra {

class FileTNode : public TNode {
public:
    enum { kTypeUnset = -1, kTypeFolder = 0, kTypeFile = 1 };

    std::string name; // empty for the root
    std::string path; // full path; the root folder path for the root
    int type = kTypeUnset;
    int folderID = -1; // among all folders of the tree, the root being 0; -1 for files
    int fileID = -1;   // among all files of the tree; -1 for folders
};

// One folder entry as readFileTree reports it.
struct FTR_Item {
    std::string name;
    bool folder = false;
};

// Byte-wise name order; a name that is a prefix of another comes first, and
// folders and files are not separated ("A" < "a" < "b").
bool FTR_SortFunc(const FTR_Item& a, const FTR_Item& b);

// Appends the entries of one folder, sorted by FTR_SortFunc. Leaves `items`
// unchanged when the folder cannot be listed.
void readFileTree(const std::string& path, std::vector<FTR_Item>& items);

// Longest line of a cache file (prefix included, line feed excluded), so
// cached paths hold at most kCacheMaxLine - 1 bytes.
constexpr int kCacheMaxLine = 499;

class FileTree : public Tree {
public:
    enum { kOpCopy = 0, kOpRemove = 1 };

    FileTree() = default;
    ~FileTree() override = default;

    // Returns a FileTNode with type and both ids -1.
    TNode* createNode() override;

    // Filters for derived trees; an entry is kept only when its name filter
    // and pathAllowed (given the full path) both agree.
    virtual bool fileAllowed(const std::string& name);
    virtual bool folderAllowed(const std::string& name);
    virtual bool pathAllowed(const std::string& path);

    // Refills the tree: from the cache file when one is set and exists and
    // rebuildCache is false, otherwise from disk (then writing the cache
    // when a cache path is set). Always true; an unreadable or damaged cache
    // leaves the tree empty.
    bool rescan(bool rebuildCache);
    // Creates the root for rootFolder and scans below it; false (nothing
    // done) when rootFolder is empty.
    bool scanRootFolder();
    // Adds the entries of `folder`'s path below it, depth first. Skips ".",
    // "..", ".dsstore" and ".DS_Store" (case-sensitive).
    void scanSubFolders(FileTNode* folder);

    // The first node in UID order that is a file with that id, or null.
    FileTNode* getFTNoteByFileID(int fileID) const;
    // The node's path relative to the root folder ("a/f"); "" for the root.
    void getRelativePath(FileTNode* node, std::string& out) const;
    // Counts folders and files at the level; both untouched when the level
    // is not in use.
    void getNumItemsAtLevel(int level, int& numFolders, int& numFiles) const;

    // Cache file: each sub-folder as "-" + path + LF followed by its own list,
    // each file as "+" + path + LF, every list (the root's included) closed
    // by "~" LF. The root itself has no line.
    //
    // Writes nothing and returns false for an empty tree, or when a path is
    // too long for the format or the buffer fills up, so that a cache file
    // on disk always describes a whole tree.
    bool saveCacheFile();
    // Fills an empty tree from the cache file. False, leaving the tree empty,
    // when the file cannot be read or is damaged (cut short, a line too long,
    // a line without a path, names "." or "..", nesting deeper than a path
    // could be, or bytes after the root's end marker).
    bool loadCacheFile();
    bool cacheFileExists() const;
    // The result of remove(): 0 when the file was deleted.
    int removeCacheFile() const;
    bool saveCacheFileInt(FileTNode* folder, char* buf, int& pos, int size);
    bool loadCacheFileInt(FileTNode* folder, char* buf, int& pos, int size);

    // Recreates the folder structure and copies every file below dstFolder,
    // which must not exist yet. An empty tree copies nothing and fails.
    bool copyToFolder(const std::string& dstFolder);
    // Removes the files the tree lists at the same places below dstFolder,
    // then the folders this empties, ending with dstFolder itself. Stops at
    // the first failure; what was removed stays removed.
    bool removeFiles(const std::string& dstFolder);
    // The shared walk: op kOpCopy or kOpRemove.
    bool performOpRec(FileTNode* folder, int op, const std::string& dstFolder);

    FileTNode* getRootNode() const { return static_cast<FileTNode*>(getRoot()); }
    int getFolderCount() const { return m_numFolders; }
    int getFileCount() const { return m_numFiles; }

    // Written by the owner before the tree is filled.
    std::string rootFolder;
    std::string cacheFile; // empty for no cache

private:
    FileTNode* createRootNode();
    FileTNode* addEntryNode(FileTNode* folder, FileTNode* prev, bool isFolder, std::string&& name,
                            std::string&& path);
    void clearTree();

    int m_numFolders = 0; // the root included
    int m_numFiles = 0;
};

} // namespace NSVextra
