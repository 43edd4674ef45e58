// Checks this platform's dynamic loader leaves to its callers.
//
// The system's loader maps the segments of a library file without checking
// that the file really holds them, so opening a truncated library ends the
// process with a bus error instead of failing. A caller that opens libraries
// it does not control checks the file first.
#pragma once

#include <VXExport.h>

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Returns 1 when nothing in the file's image headers points past its end (or
// the file is not an image at all, which the loader itself reports). Returns 0
// for a truncated image, with a loader-style message ("PATH: ...") written
// into errorText, bounded by errorSize, the terminator included.
VX_EXPORT int VXCheckLoadableImage(const char* path, char* errorText, size_t errorSize);

#ifdef __cplusplus
}
#endif
