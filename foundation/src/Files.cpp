// Folder creation, file copying and whole-file input and output.
#include "NSVextra/Files.h"

#include "NSVextra/DbgSysOutput.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace NSVextra {

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kSharedFileMode = 0660;

bool isFolder(const char* path) {
    struct stat st {};
    return access(path, F_OK) == 0 && stat(path, &st) == 0 && (st.st_mode & S_IFDIR) != 0;
}

// Closes a stdio stream when it goes out of scope.
struct FileCloser {
    FILE* file;
    ~FileCloser() {
        if (file)
            fclose(file);
    }
};

} // namespace

bool createFolder(const char* path) {
    return path && mkdir(path, kFolderMode) == 0;
}

bool createFolder(const std::string& path) {
    return createFolder(path.c_str());
}

bool createFullPath(const char* path) {
    if (!path || std::strlen(path) > static_cast<std::size_t>(kMaxFullPathLength)) {
        DBG_ERROR(1, "failed");
        return false;
    }

    char prefix[kMaxFullPathLength + 1] = {};
    for (std::size_t i = 0;; ++i) {
        char c = path[i];
        bool atEnd = c == '\0';
        // Each "/" past the first character closes one folder of the chain.
        if (atEnd || (c == '/' && i > 0)) {
            if (!isFolder(prefix) && mkdir(prefix, kFolderMode) != 0) {
                DBG_ERROR(1, "failed");
                return false;
            }
        }
        if (atEnd)
            return true;
        prefix[i] = c;
    }
}

bool createFullPath(const std::string& path) {
    return createFullPath(path.c_str());
}

void checkCorrectReadOnlyFile(const char* path) {
    if (path)
        chmod(path, kSharedFileMode);
}

void checkCorrectReadOnlyFile(const std::string& path) {
    checkCorrectReadOnlyFile(path.c_str());
}

bool copyFile(const char* source, const char* destination) {
    if (!source || !destination)
        return false;
    FileCloser in{fopen(source, "rb")};
    // A folder opens for reading here, and its end position is no size: it
    // counts as a source that cannot be opened.
    struct stat st {};
    if (in.file && (fstat(fileno(in.file), &st) != 0 || S_ISDIR(st.st_mode))) {
        fclose(in.file);
        in.file = nullptr;
    }
    if (!in.file)
        return false;
    FileCloser out{fopen(destination, "wb+")};
    if (!out.file)
        return false;

    if (fseek(in.file, 0, SEEK_END) != 0)
        return false;
    long size = ftell(in.file);
    if (size <= 0)
        return false;
    rewind(in.file);

    // A source too large for memory fails the copy instead of raising.
    std::unique_ptr<unsigned char, decltype(&std::free)> bytes(
        static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(size))), &std::free);
    if (!bytes)
        return false;
    std::size_t got = fread(bytes.get(), 1, static_cast<std::size_t>(size), in.file);
    fwrite(bytes.get(), 1, got, out.file);
    return true;
}

bool copyFile(const std::string& source, const std::string& destination) {
    return copyFile(source.c_str(), destination.c_str());
}

bool readBinDataFile(const char* path, void* buffer, int n) {
    if (!path || n < 0 || (!buffer && n > 0))
        return false;
    FileCloser in{fopen(path, "rb")};
    if (!in.file)
        return false;
    fread(buffer, 1, static_cast<std::size_t>(n), in.file);
    return true;
}

bool readBinDataFile(const std::string& path, void* buffer, int n) {
    return readBinDataFile(path.c_str(), buffer, n);
}

int getBinDataFileSize(const char* path) {
    if (!path)
        return -1;
    FileCloser in{fopen(path, "rb")};
    if (!in.file || fseek(in.file, 0, SEEK_END) != 0)
        return -1;
    long size = ftell(in.file);
    if (size < 0 || size > INT_MAX)
        return -1;
    return static_cast<int>(size);
}

int getBinDataFileSize(const std::string& path) {
    return getBinDataFileSize(path.c_str());
}

bool writeBinDataFile(const char* path, const void* buffer, int n) {
    if (!path || n < 0 || (!buffer && n > 0))
        return false;
    FileCloser out{fopen(path, "wb")};
    if (!out.file)
        return false;
    std::size_t written = fwrite(buffer, 1, static_cast<std::size_t>(n), out.file);
    bool closed = fclose(out.file) == 0;
    out.file = nullptr;
    return written == static_cast<std::size_t>(n) && closed;
}

bool writeBinDataFile(const std::string& path, const void* buffer, int n) {
    return writeBinDataFile(path.c_str(), buffer, n);
}

bool readBinDataFileFloat(const char* path, float* floats, int count) {
    if (count < 0 || count > INT_MAX / static_cast<int>(sizeof(float)))
        return false;
    return readBinDataFile(path, floats, count * static_cast<int>(sizeof(float)));
}

bool writeBinDataFileFloat(const char* path, const float* floats, int count) {
    if (count < 0 || count > INT_MAX / static_cast<int>(sizeof(float)))
        return false;
    return writeBinDataFile(path, floats, count * static_cast<int>(sizeof(float)));
}

bool readTextFileToString(const char* path, std::string& text) {
    if (!path)
        return false;
    std::ifstream in(path);
    if (!in.is_open())
        return false;
    // 0xFF never occurs in UTF-8 text, so it serves as an end mark.
    std::getline(in, text, static_cast<char>(0xFF));
    return !in.fail() && !in.bad();
}

bool readTextFileToString(const std::string& path, std::string& text) {
    return readTextFileToString(path.c_str(), text);
}

} // namespace NSVextra
