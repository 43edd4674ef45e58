// The host runtime's own calls, beyond the platform's Audio Unit and Audio
// Component interfaces: opening a component through its Component Manager
// entry, refreshing the list of installed components, and switching the
// platform frameworks off to see how a unit copes without them.
#pragma once

#include <VXExport.h>

#include <MacTypes.h>
#include <AudioUnit/AudioUnit.h>

#ifdef __cplusplus
extern "C" {
#endif

// Opens an instance of the component bundle at bundlePath (a folder such as
// "X.component") through its Component Manager entry entryName, e.g.
// "CAUPluginEntry". The bundle's executable is loaded, the entry is called
// with the open selector and the new instance handle; from then on every
// Audio Unit call on the instance goes through that entry with a parameter
// block (see ComponentParameters), and AudioComponentInstanceDispose sends
// the close selector. The instance's description comes from the bundle's
// AudioComponents entry when it has one.
// Answers 0, -50 for null arguments, -43 when the bundle or its executable
// cannot be found or loaded, -10875 when the entry is missing, or the
// entry's own failure status for the open request.
// OPEN (caller's thread), +ANY on other instances; paths BORROWED; instance VALID UNTIL disposal.
VX_EXPORT OSStatus VXHostOpenComponentManagerInstance(const char* bundlePath, const char* entryName,
                                            AudioComponentInstance* outInstance);

// The same for a component found with AudioComponentFindNext that lives in a
// bundle; components registered by the host itself answer -50.
// OPEN (caller's thread), +ANY on others; entryName BORROWED; instance VALID UNTIL disposal.
VX_EXPORT OSStatus VXHostOpenComponentManagerInstanceOfComponent(AudioComponent inComponent,
                                                       const char* entryName,
                                                       AudioComponentInstance* outInstance);

// True for an open instance that was opened through a Component Manager entry.
// ANY, EITHER, +ANY.
VX_EXPORT Boolean VXHostInstanceUsesComponentManager(AudioComponentInstance inInstance);

// Copies the bundle folder of a component into outPath (bounded by size, the
// terminator included). False for components without a bundle, unknown
// handles, or a buffer that is too small.
// ANY, +ANY; outPath BORROWED (size bytes).
VX_EXPORT Boolean VXHostGetComponentBundlePath(AudioComponent inComponent, char* outPath, UInt32 size);

// Looks through the components folders again ($HOME/Library/Audio/Plug-Ins/
// Components, then /Library/Audio/Plug-Ins/Components), e.g. after HOME
// changed or a bundle was installed. Components that were found before stay
// valid handles; those no longer installed drop out of searches.
// ANY, +ANY: searches on other threads see the old list or the new one.
VX_EXPORT void VXHostRescanComponents(void);

// The platform frameworks (CoreServices, AudioUnit, AudioToolbox,
// CoreFoundation, CoreAudio) resolve to this library when a unit opens them
// by their platform paths with dlopen. Switching them off makes those
// dlopen calls fail the way they would on a system without the frameworks.
//
// The line above each call gives its thread, state, overlap and pointer
// ownership in the tags of engine_api/Threads.h.
// ANY, +ANY; later dlopen calls see the switch.
VX_EXPORT void VXPlatformSetFrameworksAvailable(Boolean available);
// ANY, +ANY.
VX_EXPORT Boolean VXPlatformFrameworksAvailable(void);

#ifdef __cplusplus
}
#endif
