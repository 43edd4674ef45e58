// Folder listing and existence queries of the platform's file manager.
#pragma once

#include <VXExport.h>

#include <Foundation/NSArray.h>
#include <Foundation/NSError.h>
#include <Foundation/NSObjCRuntime.h>
#include <Foundation/NSString.h>

#include <optional>

class VX_EXPORT NSFileManager {
public:
    // The shared manager; safe to use from any thread.
    static NSFileManager* defaultManager();

    // -contentsOfDirectoryAtPath:error:. The names (not paths) of the folder's
    // entries, without "." and "..", in no particular order. nil (nullopt)
    // when the folder cannot be listed; *error (when given) then says why.
    std::optional<NSArray<NSString>> contentsOfDirectoryAtPath(const NSString& path,
                                                               NSError* error) const;

    // -fileExistsAtPath:isDirectory:. Follows symbolic links; *isDirectory is
    // set only when the item exists.
    BOOL fileExistsAtPath(const NSString& path, BOOL* isDirectory = nullptr) const;

private:
    NSFileManager() = default;
};
