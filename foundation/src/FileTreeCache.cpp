#include <NSVextra/FileTree.h>

#include <NSVextra/DbgSysOutput.h>
#include <NSVextra/Files.h>
#include <NSVextra/Paths.h>

#include <climits>
#include <cstdio>
#include <cstring>

namespace NSVextra {

namespace {

// Bytes the writer reserves per tree entry.
constexpr int kCacheBytesPerEntry = 500;

// Every nesting level adds at least "/x" to a path of at most kCacheMaxLine - 1
// bytes, so a cache that nests deeper than this was not written by a scan.
constexpr int kCacheMaxDepth = kCacheMaxLine / 2 + 1;

bool putBytes(char* buf, int& pos, int size, const char* bytes, int n) {
    if (n > size - pos)
        return false;
    std::memcpy(buf + pos, bytes, static_cast<std::size_t>(n));
    pos += n;
    return true;
}

bool skipEndMarker(const char* buf, int& pos, int size) {
    if (size - pos < 2 || buf[pos] != '~' || buf[pos + 1] != '\n')
        return false;
    pos += 2;
    return true;
}

bool isUsableName(const char* begin, const char* end) {
    const std::ptrdiff_t length = end - begin;
    return length > 0 && !(length == 1 && begin[0] == '.') &&
           !(length == 2 && begin[0] == '.' && begin[1] == '.');
}

} // namespace

bool FileTree::saveCacheFileInt(FileTNode* folder, char* buf, int& pos, int size) {
    if (!folder || !buf || pos < 0 || pos > size)
        return false;
    for (TNode* child : folder->children) {
        auto* node = static_cast<FileTNode*>(child);
        const bool isFolder = node->type == FileTNode::kTypeFolder;
        // A line feed inside a path, or a line the reader's buffer cannot
        // hold, would make the cache describe another tree.
        if (static_cast<int>(node->path.size()) + 1 > kCacheMaxLine ||
            node->path.find('\n') != std::string::npos)
            return false;
        const char prefix = isFolder ? '-' : '+';
        const int pathLength = static_cast<int>(node->path.size());
        if (pathLength + 2 > size - pos)
            return false;
        putBytes(buf, pos, size, &prefix, 1);
        putBytes(buf, pos, size, node->path.data(), pathLength);
        putBytes(buf, pos, size, "\n", 1);
        if (isFolder && !saveCacheFileInt(node, buf, pos, size))
            return false;
    }
    return putBytes(buf, pos, size, "~\n", 2);
}

bool FileTree::saveCacheFile() {
    FileTNode* root = getRootNode();
    if (!root || cacheFile.empty())
        return false;
    const long long bytes =
        (static_cast<long long>(m_numFolders) + m_numFiles) * kCacheBytesPerEntry;
    if (bytes <= 0 || bytes > INT_MAX)
        return false;
    const int size = static_cast<int>(bytes);
    std::vector<char> buf(static_cast<std::size_t>(size), 0);
    int pos = 0;
    if (!saveCacheFileInt(root, buf.data(), pos, size))
        return false;
    if (!writeBinDataFile(cacheFile, buf.data(), pos)) {
        // A cache cut short (a full disk) would make the next start-up read
        // a damaged file instead of scanning: no cache is better.
        std::remove(cacheFile.c_str());
        return false;
    }
    return true;
}

bool FileTree::loadCacheFileInt(FileTNode* folder, char* buf, int& pos, int size) {
    if (!folder || !buf || pos < 0 || pos >= size || folder->level >= kCacheMaxDepth)
        return false;
    if (buf[pos] == '~')
        return skipEndMarker(buf, pos, size);

    FileTNode* prev = nullptr;
    for (;;) {
        // One line: up to kCacheMaxLine bytes, then a line feed. Read in
        // place: the name is the part after the path's last "/" (a folder
        // line must have one), taken straight from the buffer.
        const char* text = buf + pos;
        const int available = size - pos;
        const int scan = available < kCacheMaxLine + 1 ? available : kCacheMaxLine + 1;
        const void* lf = std::memchr(text, '\n', static_cast<std::size_t>(scan));
        if (!lf)
            return false; // cut short, or longer than the format allows
        const int length = static_cast<int>(static_cast<const char*>(lf) - text);
        pos += length + 1;

        if (length < 2 || std::memchr(text, '\0', static_cast<std::size_t>(length)))
            return false;
        const bool isFolder = text[0] == '-';
        const char* pathBegin = text + 1;
        const char* pathEnd = text + length;
        const char* nameBegin = pathEnd;
        while (nameBegin > pathBegin && nameBegin[-1] != '/')
            --nameBegin;
        if (isFolder && nameBegin == pathBegin)
            return false; // no "/" at all
        // Such names would send copies and removals to the wrong place.
        if (!isUsableName(nameBegin, pathEnd))
            return false;
        std::string path(pathBegin, pathEnd);
        std::string name(nameBegin, pathEnd);

        prev = addEntryNode(folder, prev, isFolder, std::move(name), std::move(path));
        if (isFolder && !loadCacheFileInt(prev, buf, pos, size))
            return false;
        if (pos >= size)
            return false;
        if (buf[pos] == '~')
            return skipEndMarker(buf, pos, size);
    }
}

bool FileTree::loadCacheFile() {
    if (cacheFile.empty())
        return false;
    const int size = getBinDataFileSize(cacheFile);
    if (size < 0)
        return false;
    // Zero-filled, so a file that shrinks while being read shows up as a
    // damaged line rather than as stale bytes.
    std::vector<char> buf(static_cast<std::size_t>(size) + 1, 0);
    if (!readBinDataFile(cacheFile, buf.data(), size))
        return false;

    clearTree();
    int pos = 0;
    if (!loadCacheFileInt(createRootNode(), buf.data(), pos, size) || pos != size) {
        DBG_ERROR(0, "invalid cache file");
        clearTree();
        return false;
    }
    return true;
}

} // namespace NSVextra
