// Taking POSIX paths apart and testing whether files and folders exist.
//
// Paths use "/" as separator and are handed to the C library unchanged.
// Nothing here keeps state, logs or throws: a failure is a false result or an
// output argument left as it was. Any thread may call these functions.
#pragma once

#include <cstddef>
#include <string>

namespace NSVextra {

// Size of the zero-filled buffers callers hand to the C-string form of
// getFileNameAndFolderFromPath (the engine loader uses 500 bytes). A part
// must be shorter than this to be copied, so the terminator always fits.
constexpr std::size_t kPathPartBufferSize = 500;

// Size of the working buffers of the std::string form: each part must be
// shorter than this.
constexpr std::size_t kPathPartStringLimit = 300;

// The text after the last "/", or the whole path when there is none.
std::string getFileNameWithExtFromPath(const std::string& path);

// Splits "<folder>/<name>.<ext>" at the last "/" and the last "." after it.
// `name` (may be null) receives the name without its extension and `folder`
// (may be null) the folder without the trailing "/". No terminator is added:
// pass zero-filled buffers of at least kPathPartBufferSize bytes.
// Rules for paths outside that shape:
//  - no "/" at all: nothing is written;
//  - no "." after the last "/": the name is everything after the "/";
//  - a requested part of kPathPartBufferSize characters or more: nothing at
//    all is written (neither buffer), so no buffer is ever overrun.
void getFileNameAndFolderFromPath(const char* path, char* name, char* folder);

// The same split for standard strings. Both outputs are left unchanged when
// the path has no "/" or when either part has kPathPartStringLimit characters
// or more.
void getFileNameAndFolderFromPath(const std::string& path, std::string& name, std::string& folder);

// `folder` = the text in front of the last "/"; unchanged when there is no "/".
void getFullFolderPath(const std::string& path, std::string& folder);

// `name` = the text after the last "/" (empty when the path ends in "/") and
// true; false with `name` unchanged when the path has no "/".
bool getLastFolderFromPath(const std::string& path, std::string& name);

// Removes one trailing backslash in place. A trailing "/" stays, as does the
// empty text (and a null pointer for the C-string form).
void trimTailSlash(std::string& path);
void trimTailSlash(char* path);

// True when the path can be accessed and names anything with a file type:
// plain files and folders alike.
bool fileExists(const char* path);
bool fileExists(const std::string& path);

// True when the path can be accessed and is a directory.
bool folderExists(const char* path);
bool folderExists(const std::string& path);

} // namespace NSVextra
