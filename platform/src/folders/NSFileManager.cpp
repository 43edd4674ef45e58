#include <Foundation/NSFileManager.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

const char* const NSPOSIXErrorDomain = "NSPOSIXErrorDomain";

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

void setPosixError(NSError* error, int code) {
    if (error)
        *error = NSError(NSPOSIXErrorDomain, code, NSString(std::strerror(code)));
}

} // namespace

NSFileManager* NSFileManager::defaultManager() {
    static NSFileManager manager;
    return &manager;
}

std::optional<NSArray<NSString>> NSFileManager::contentsOfDirectoryAtPath(const NSString& path,
                                                                          NSError* error) const {
    std::unique_ptr<DIR, DirCloser> dir(opendir(path.UTF8String()));
    if (!dir) {
        setPosixError(error, errno);
        return std::nullopt;
    }
    std::vector<NSString> names;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir.get());
        if (!entry) {
            if (errno != 0) {
                setPosixError(error, errno);
                return std::nullopt;
            }
            break;
        }
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        names.emplace_back(entry->d_name);
    }
    return NSArray<NSString>(std::move(names));
}

BOOL NSFileManager::fileExistsAtPath(const NSString& path, BOOL* isDirectory) const {
    struct stat info;
    if (stat(path.UTF8String(), &info) != 0)
        return NO;
    if (isDirectory)
        *isDirectory = S_ISDIR(info.st_mode) ? YES : NO;
    return YES;
}
