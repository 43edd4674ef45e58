// The images (executable and shared libraries) loaded in the process, as the
// dynamic loader lists them.
#pragma once

#include <VXExport.h>

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// The number of loaded images at the time of the call.
VX_EXPORT uint32_t _dyld_image_count(void);

// The path of image number imageIndex, valid until that image is unloaded;
// null for an index at or past the count. Indices are only stable while no
// image is loaded or unloaded.
VX_EXPORT const char* _dyld_get_image_name(uint32_t imageIndex);

#ifdef __cplusplus
}
#endif
