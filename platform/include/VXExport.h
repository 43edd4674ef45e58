// The platform library is built with hidden visibility: only what carries
// this mark is its API, everything else stays inside libvxplatform.so.
#pragma once

#define VX_EXPORT __attribute__((visibility("default")))
