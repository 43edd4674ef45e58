// Where a loaded bundle lives.
#pragma once

#include <cstddef>

namespace NSVextra {

// Size of the caller's buffer for getModulePath, the terminator included.
constexpr std::size_t kModulePathSize = 300;

// Writes the POSIX path of the loaded bundle with the given identifier into
// outPath (at most kModulePathSize bytes, terminator included). Identifier and
// path cross as ASCII. Returns false, with outPath untouched, when no loaded
// bundle has the identifier, when it has no path, or when the path is not
// pure ASCII or does not fit.
bool getModulePath(const char* bundleIdentifier, char* outPath);

} // namespace NSVextra
