// Folder creation, file copying and whole-file input and output.
//
// Paths are handed to the C library unchanged. Failures come back as the
// result (false or -1); only createFullPath also writes a line to the log.
// Binary files hold exactly the caller's bytes; float files hold 32-bit
// floats in the host's byte order, back to back. Any thread may call these.
#pragma once

#include <string>

namespace NSVextra {

// Longest path createFullPath accepts (its working buffer holds one more byte
// for the terminator). Longer paths are refused before anything is created.
constexpr int kMaxFullPathLength = 511;

// One mkdir with mode 0700. False when it fails, also when it already exists.
bool createFolder(const char* path);
bool createFolder(const std::string& path);

// Creates every missing folder along the path (mode 0700). True when the whole
// chain exists afterwards; false, with "failed" logged as an error, when a
// prefix cannot be made (for example a plain file is in the way) or the path
// is longer than kMaxFullPathLength.
bool createFullPath(const char* path);
bool createFullPath(const std::string& path);

// Sets the file's permissions to 0660 (owner and group read and write).
void checkCorrectReadOnlyFile(const char* path);
void checkCorrectReadOnlyFile(const std::string& path);

// Copies a file's bytes. False when the source cannot be opened, the
// destination cannot be created, or the source is empty (the destination is
// then left created and empty).
bool copyFile(const char* source, const char* destination);
bool copyFile(const std::string& source, const std::string& destination);

// Reads up to n bytes into `buffer`; true when the file could be opened,
// however many bytes it held. False for a negative n.
bool readBinDataFile(const char* path, void* buffer, int n);
bool readBinDataFile(const std::string& path, void* buffer, int n);

// The file's size in bytes, -1 when it cannot be opened (or does not fit an int).
int getBinDataFileSize(const char* path);
int getBinDataFileSize(const std::string& path);

// Creates or truncates the file and writes n bytes; true when all were written.
bool writeBinDataFile(const char* path, const void* buffer, int n);
bool writeBinDataFile(const std::string& path, const void* buffer, int n);

// The float forms move count * 4 bytes; a count whose byte size does not fit
// an int is refused.
bool readBinDataFileFloat(const char* path, float* floats, int count);
bool writeBinDataFileFloat(const char* path, const float* floats, int count);

// Reads the file into `text` up to the first 0xFF byte (consumed, not stored)
// or the end. True when at least one character was read without a stream
// error; an empty or unreadable file gives false (and an empty text when the
// file could be opened).
bool readTextFileToString(const char* path, std::string& text);
bool readTextFileToString(const std::string& path, std::string& text);

} // namespace NSVextra
