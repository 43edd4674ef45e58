// The bundle's two exported entry points, CAUPluginFactory and
// CAUPluginEntry, and the static objects a loaded bundle must carry.
#include <plugin/CAUPlugin.h>

#include <aufw/AUPlugInDispatch.h>
#include <aufw/ComponentEntry.h>

#include <NSVextra/DbgSysOutput.h>
#include <NSVextra/TimerMap.h>

AUDIOCOMPONENT_ENTRY(AUBaseFactory, CAUPlugin)

namespace {

// Loading the bundle opens the log and sets up the timer registry, whether or
// not the plug-in itself ever logs or arms a timer. Naming both here keeps
// their objects, and so their static initialisers, in the binary.
[[maybe_unused]] __attribute__((used)) const void* const kBundleStatics[] = {
    &NSVextra::dbgSysOut,
    reinterpret_cast<const void*>(&NSVextra::macTimerMapProc),
};

} // namespace
