// What the fuzz targets that drive whole components share: the choice of
// component and entry from the input, a fresh instance per input, and a
// builder of arbitrary property-list values from bytes.
#pragma once

#include "FuzzSupport.h"

#include <UnitHost.h>

namespace componentfuzz {

// Opens a fresh instance of the component and entry that the input's next
// byte picks (bit 0: plug-in or test unit, bit 1: entry); aborts when the
// open fails, since every open of these bundles must succeed.
struct Instance {
    explicit Instance(fuzzsupport::Input& in);
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    unithost::Component component;
    unithost::Entry entry;
    AudioUnit unit = nullptr;
};

// Keeps the process's alerts and logs quiet and the support folder ready.
void initialize();

// A property-list value made from the input: numbers, strings, data,
// booleans, arrays and dictionaries nested up to `depth`. Never null;
// the caller releases it.
CFTypeRef buildValue(fuzzsupport::Input& in, int depth);

// A dictionary that looks like a ClassInfo document of the component most of
// the time (right keys, mostly right types and codes, well-formed parameter
// records) and strays from it where the input says so. The caller releases it.
CFMutableDictionaryRef buildClassInfo(fuzzsupport::Input& in, unithost::Component component);

// Element names grow a scope to the largest element number they name, as
// many elements as asked, so a document naming element 300000000 makes the
// unit try to create that many: memory, not a fault, stops it. Such a
// document is worth nothing to the fuzzer and is left out (true when doc
// names an element number above a few thousand in any scope).
bool namesHugeElementNumbers(CFPropertyListRef doc);

} // namespace componentfuzz
