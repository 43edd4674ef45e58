// Path splitting and existence tests.
#include "NSVextra/Paths.h"

#include <cstring>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

namespace NSVextra {

namespace {

// Where the last "/" and the last "." after it sit, if any.
struct PathSplit {
    bool hasSlash = false;
    std::size_t slash = 0;
    std::size_t nameEnd = 0; // the "." before the extension, or the end
};

PathSplit splitPath(std::string_view path) {
    PathSplit split;
    std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return split;
    split.hasSlash = true;
    split.slash = slash;
    std::size_t dot = path.rfind('.');
    split.nameEnd = (dot != std::string_view::npos && dot > slash) ? dot : path.size();
    return split;
}

bool statPath(const char* path, struct stat& st) {
    if (!path || access(path, F_OK) != 0)
        return false;
    return stat(path, &st) == 0;
}

} // namespace

std::string getFileNameWithExtFromPath(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return path;
    return path.substr(slash + 1);
}

void getFileNameAndFolderFromPath(const char* path, char* name, char* folder) {
    if (!path)
        return;
    std::string_view view(path);
    PathSplit split = splitPath(view);
    if (!split.hasSlash)
        return;
    std::size_t nameLength = split.nameEnd - split.slash - 1;
    std::size_t folderLength = split.slash;
    // Refuse the whole call rather than fill one buffer and not the other.
    if ((name && nameLength >= kPathPartBufferSize) ||
        (folder && folderLength >= kPathPartBufferSize))
        return;
    if (name)
        std::memcpy(name, path + split.slash + 1, nameLength);
    if (folder)
        std::memcpy(folder, path, folderLength);
}

void getFileNameAndFolderFromPath(const std::string& path, std::string& name, std::string& folder) {
    PathSplit split = splitPath(path);
    if (!split.hasSlash)
        return;
    std::size_t nameLength = split.nameEnd - split.slash - 1;
    std::size_t folderLength = split.slash;
    if (nameLength >= kPathPartStringLimit || folderLength >= kPathPartStringLimit)
        return;
    name.assign(path, split.slash + 1, nameLength);
    folder.assign(path, 0, folderLength);
}

void getFullFolderPath(const std::string& path, std::string& folder) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return;
    folder = path.substr(0, slash);
}

bool getLastFolderFromPath(const std::string& path, std::string& name) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return false;
    name = path.substr(slash + 1);
    return true;
}

void trimTailSlash(std::string& path) {
    if (!path.empty() && path.back() == '\\')
        path.pop_back();
}

void trimTailSlash(char* path) {
    if (!path)
        return;
    std::size_t length = std::strlen(path);
    if (length > 0 && path[length - 1] == '\\')
        path[length - 1] = '\0';
}

bool fileExists(const char* path) {
    struct stat st {};
    return statPath(path, st) && (st.st_mode & S_IFMT) != 0;
}

bool fileExists(const std::string& path) {
    return fileExists(path.c_str());
}

bool folderExists(const char* path) {
    struct stat st {};
    return statPath(path, st) && (st.st_mode & S_IFDIR) != 0;
}

bool folderExists(const std::string& path) {
    return folderExists(path.c_str());
}

} // namespace NSVextra
