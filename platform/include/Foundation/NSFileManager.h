// Folder listing and existence queries of the platform's file manager.
#pragma once

#include <Foundation/NSArray.h>
#include <Foundation/NSError.h>
#include <Foundation/NSObjCRuntime.h>
#include <Foundation/NSString.h>

#include <optional>

class NSFileManager {
public:
    // The shared manager; safe to use from any thread.
    static NSFileManager* defaultManager();

    // -contentsOfDirectoryAtPath:error:. The names (not paths) of the folder's
    // entries, without "." and "..", in no particular order. nil (nullopt)
    // when the folder cannot be listed; *error (when given) then says why.
    std::optional<NSArray<NSString>> contentsOfDirectoryAtPath(const NSString& path,
                                                               NSError* error) const;

    // What a listing reports about an entry's kind. On the platform these are
    // the resource values NSURLIsDirectoryKey and NSURLIsSymbolicLinkKey that
    // -contentsOfDirectoryAtURL:includingPropertiesForKeys:options:error:
    // fetches together with the listing; here, the directory entry's type.
    enum class EntryKind : unsigned char {
        Unknown,   // a link, or a file system that does not say: ask again
        Directory, // a folder itself (not a link to one)
        Other,     // a file or anything else that is not a folder
    };
    struct DirectoryEntry {
        NSString name;
        EntryKind kind = EntryKind::Unknown;
    };

    // The same listing as contentsOfDirectoryAtPath:error:, each name with
    // the kind the listing itself reports, so that a caller walking a tree
    // need not ask the file system about every entry a second time.
    std::optional<NSArray<DirectoryEntry>> contentsOfDirectoryWithKindsAtPath(const NSString& path,
                                                                              NSError* error) const;

    // -fileExistsAtPath:isDirectory:. Follows symbolic links; *isDirectory is
    // set only when the item exists.
    BOOL fileExistsAtPath(const NSString& path, BOOL* isDirectory = nullptr) const;

private:
    NSFileManager() = default;
};
