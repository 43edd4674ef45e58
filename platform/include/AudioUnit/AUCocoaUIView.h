// The record a unit hands out for its editor view: where the view's bundle
// lies and the names of the view factory classes inside it.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#ifdef __cplusplus
extern "C" {
#endif

// Both the URL and the class names belong to the receiver, which releases them.
// The record holds as many class names as the property's size leaves room for.
typedef struct AudioUnitCocoaViewInfo {
    CFURLRef mCocoaAUViewBundleLocation;
    CFStringRef mCocoaAUViewClass[1];
} AudioUnitCocoaViewInfo;

#ifdef __cplusplus
}
#endif
