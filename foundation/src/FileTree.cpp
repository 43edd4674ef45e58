#include <NSVextra/FileTree.h>

#include <NSVextra/Paths.h>

#include <Foundation/Foundation.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

namespace NSVextra {

bool FTR_SortFunc(const FTR_Item& a, const FTR_Item& b) {
    // Unsigned bytes, so that UTF-8 names sort after ASCII ones.
    const std::size_t n = std::min(a.name.size(), b.name.size());
    const int cmp = n ? std::memcmp(a.name.data(), b.name.data(), n) : 0;
    if (cmp != 0)
        return cmp < 0;
    return a.name.size() < b.name.size();
}

void readFileTree(const std::string& path, std::vector<FTR_Item>& items) {
    NSFileManager* manager = NSFileManager::defaultManager();
    const NSString folder(path.c_str());
    const std::optional<NSArray<NSString>> entries =
        manager->contentsOfDirectoryAtPath(folder, nullptr);
    if (!entries)
        return;
    const std::size_t first = items.size();
    items.reserve(first + entries->count());
    for (const NSString& entry : *entries) {
        // Each entry is asked about by its path (one status query per entry):
        // that is what makes a link to a folder a folder here.
        BOOL isDirectory = NO;
        const NSString fullPath = folder.stringByAppendingPathComponent(entry);
        if (!manager->fileExistsAtPath(fullPath, &isDirectory))
            isDirectory = NO;
        FTR_Item& item = items.emplace_back();
        item.name = entry.lastPathComponent().UTF8String();
        item.folder = isDirectory == YES;
    }
    std::sort(items.begin() + static_cast<std::ptrdiff_t>(first), items.end(), FTR_SortFunc);
}

namespace {

// Whether `path` is a link to `folder` or to one of the folders above it.
bool linksToScannedFolder(const FileTNode* folder, const std::string& path) {
    struct stat link {};
    struct stat target {};
    if (lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode) ||
        stat(path.c_str(), &target) != 0)
        return false;
    for (const TNode* node = folder; node; node = node->parent) {
        struct stat st {};
        if (stat(static_cast<const FileTNode*>(node)->path.c_str(), &st) == 0 &&
            st.st_dev == target.st_dev && st.st_ino == target.st_ino)
            return true;
    }
    return false;
}

} // namespace

TNode* FileTree::createNode() {
    return new FileTNode();
}

bool FileTree::fileAllowed(const std::string&) {
    return true;
}
bool FileTree::folderAllowed(const std::string&) {
    return true;
}
bool FileTree::pathAllowed(const std::string&) {
    return true;
}

void FileTree::clearTree() {
    release();
    m_numFolders = 0;
    m_numFiles = 0;
}

FileTNode* FileTree::createRootNode() {
    auto* root = static_cast<FileTNode*>(addNextNode(nullptr));
    root->name.clear();
    root->path = rootFolder;
    root->type = FileTNode::kTypeFolder;
    root->folderID = 0;
    m_numFolders = 1;
    m_numFiles = 0;
    return root;
}

FileTNode* FileTree::addEntryNode(FileTNode* folder, FileTNode* prev, bool isFolder,
                                  std::string&& name, std::string&& path) {
    auto* node = static_cast<FileTNode*>(prev ? addNextNode(prev) : addSubNode(folder));
    node->name = std::move(name);
    node->path = std::move(path);
    if (isFolder) {
        node->type = FileTNode::kTypeFolder;
        node->folderID = m_numFolders++;
    } else {
        node->type = FileTNode::kTypeFile;
        node->fileID = m_numFiles++;
    }
    return node;
}

bool FileTree::rescan(bool rebuildCache) {
    const bool haveCache = !cacheFile.empty();
    if (!rebuildCache && haveCache && cacheFileExists()) {
        // The cache file is read into memory before the old tree goes
        // (loadCacheFile releases it then): the new nodes then take over the
        // blocks the old ones leave, instead of the heap first merging them
        // all for the file's large buffer.
        if (!loadCacheFile())
            clearTree();
        return true;
    }
    clearTree();
    if (rebuildCache) {
        if (haveCache)
            removeCacheFile();
        scanRootFolder();
        if (haveCache)
            saveCacheFile();
        return true;
    }
    if (!haveCache) {
        scanRootFolder();
        return true;
    }
    scanRootFolder();
    saveCacheFile();
    return true;
}

bool FileTree::scanRootFolder() {
    if (rootFolder.empty())
        return false;
    clearTree();
    scanSubFolders(createRootNode());
    return true;
}

void FileTree::scanSubFolders(FileTNode* folder) {
    if (!folder)
        return;
    std::vector<FTR_Item> items;
    readFileTree(folder->path, items);

    FileTNode* prev = nullptr;
    for (FTR_Item& item : items) {
        const std::string& name = item.name;
        if (name == "." || name == ".." || name == ".dsstore" || name == ".DS_Store")
            continue;
        // Built once at its final size; the node takes it over, as it takes
        // over the name.
        std::string fullPath;
        fullPath.reserve(folder->path.size() + 1 + name.size());
        fullPath.append(folder->path).append(1, '/').append(name);
        const bool nameAllowed = item.folder ? folderAllowed(name) : fileAllowed(name);
        if (!nameAllowed || !pathAllowed(fullPath))
            continue;
        prev = addEntryNode(folder, prev, item.folder, std::move(item.name), std::move(fullPath));
        // Depth first, so that ids follow the order in which a reader of the
        // sorted listing meets the entries. A link back to a folder being
        // scanned stays an empty folder: following it would never end.
        if (item.folder && !linksToScannedFolder(folder, prev->path))
            scanSubFolders(prev);
    }
}

FileTNode* FileTree::getFTNoteByFileID(int fileID) const {
    for (int i = 0; i < getNodeCount(); ++i) {
        auto* node = static_cast<FileTNode*>(getNode(i));
        if (node->type == FileTNode::kTypeFile && node->fileID == fileID)
            return node;
    }
    return nullptr;
}

void FileTree::getRelativePath(FileTNode* node, std::string& out) const {
    out.clear();
    for (TNode* n = node; n; n = n->parent) {
        const std::string& name = static_cast<FileTNode*>(n)->name;
        if (name.empty())
            continue;
        out = out.empty() ? name : name + "/" + out;
    }
}

void FileTree::getNumItemsAtLevel(int level, int& numFolders, int& numFiles) const {
    const int count = getNumNodesAtLevel(level);
    if (count == 0)
        return;
    numFolders = 0;
    numFiles = 0;
    for (int pos = 0; pos < count; ++pos) {
        const int type = static_cast<FileTNode*>(getNodeByPos(level, pos))->type;
        if (type == FileTNode::kTypeFolder)
            ++numFolders;
        else if (type == FileTNode::kTypeFile)
            ++numFiles;
    }
}

bool FileTree::cacheFileExists() const {
    return !cacheFile.empty() && fileExists(cacheFile);
}

int FileTree::removeCacheFile() const {
    return std::remove(cacheFile.c_str());
}

} // namespace NSVextra
