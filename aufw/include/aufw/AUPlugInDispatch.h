// The Audio Component factory path: the record a unit's factory hands the
// host, its open and close functions, and the lookup tables that give the
// host the method serving each selector. Every method takes the record's
// address first and works on the unit kept in the record's storage. Each
// method has the thread, state and overlap of the Audio Unit call it serves
// (engine_api/Threads.h tags beside each call in AudioUnit/AUComponent.h).
#pragma once

#include <aufw/AUBase.h>
#include <aufw/ComponentEntry.h>

#include <AudioUnit/AudioComponent.h>
#include <AudioUnit/AudioUnit.h>

#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>

// The factory record: eight pointer slots, then the unit's own storage. The
// first four slots are the platform's plug-in interface; the host passes the
// record's address back as the first argument of every method.
struct AudioComponentPlugInInstance {
    using ConstructProc = ComponentBase* (*)(void* memory, AudioComponentInstance inInstance);
    using DestructProc = void (*)(void* memory);

    AudioComponentPlugInInterface mPlugInInterface; // open, close, lookup, reserved
    ConstructProc mConstruct;
    DestructProc mDestruct;
    void* mPad[2];

    static constexpr size_t kStorageOffset = 8 * sizeof(void*);

    void* Storage() noexcept { return reinterpret_cast<unsigned char*>(this) + kStorageOffset; }
    // The unit in the storage (its AUBase part starts there; see Construct).
    AUBase* Unit() noexcept { return static_cast<AUBase*>(static_cast<ComponentBase*>(Storage())); }
};
static_assert(sizeof(AudioComponentPlugInInstance) == AudioComponentPlugInInstance::kStorageOffset);
static_assert(offsetof(AudioComponentPlugInInstance, mPlugInInterface) == 0);

// Open: constructs the unit in the record under the open lock, with the
// instance type of the factory path, and runs its PostConstructor. A failed
// open destroys what was built and frees the record, and answers a status
// that is never 0.
// OPEN, UNINIT, ALONE; self is the record, owned by the host until AP_Close.
OSStatus AP_Open(void* self, AudioComponentInstance inInstance);
// Close: PreDestructor, the unit's destructor, then the record is freed.
// CLOSE, EITHER, ALONE; self is gone when it returns.
OSStatus AP_Close(void* self);

// The lookup tables. Each answers the method for a selector, or null.
// ANY, +ANY; a method stays valid while the component's code is loaded.
struct AUBaseLookup {
    static AudioComponentMethod Lookup(SInt16 selector);
};
// Output units: also start (513) and stop (514).
struct AUOutputLookup {
    static AudioComponentMethod Lookup(SInt16 selector);
};
// Output units with complex render (19).
struct AUComplexOutputLookup {
    static AudioComponentMethod Lookup(SInt16 selector);
};
// Units that process in place (20).
struct AUBaseProcessLookup {
    static AudioComponentMethod Lookup(SInt16 selector);
};
// Units that process several buffer lists (20, 21).
struct AUBaseProcessMultipleLookup {
    static AudioComponentMethod Lookup(SInt16 selector);
};
// Units that take MIDI (257, 258).
struct AUMIDILookup {
    static AudioComponentMethod Lookup(SInt16 selector);
};
// MIDI units that process in place (20, 257, 258).
struct AUMIDIProcessLookup {
    static AudioComponentMethod Lookup(SInt16 selector);
};
// Instruments (257 to 262).
struct AUMusicLookup {
    static AudioComponentMethod Lookup(SInt16 selector);
};

// Makes factory records for one unit class and one lookup table.
template <class Lookup, class Implementor> class APFactory {
    static_assert(std::is_base_of_v<AUBase, Implementor>, "the factory makes Audio Units");
    static_assert(alignof(Implementor) <= alignof(std::max_align_t),
                  "the record's storage is aligned for any fundamental type only");

public:
    // Builds the unit in memory for the instance.
    static ComponentBase* Construct(void* memory, AudioComponentInstance inInstance) {
        auto* object = new (memory) Implementor(inInstance);
        if (!ComponentEntryUnitAtStart(object)) {
            object->~Implementor();
            throw CAException(kAudioUnitErr_FailedInitialization);
        }
        return object;
    }
    // Runs the unit's destructor; the memory stays with the record.
    static void Destruct(void* memory) { static_cast<Implementor*>(memory)->~Implementor(); }

    // The factory function: a new record, or null when memory runs out.
    // OPEN (before AP_Open), ALONE; the record VALID UNTIL AP_Close frees it.
    static AudioComponentPlugInInterface* Factory(const AudioComponentDescription* /*inDesc*/) {
        void* block =
            std::malloc(AudioComponentPlugInInstance::kStorageOffset + sizeof(Implementor));
        if (block == nullptr) {
            return nullptr;
        }
        auto* record = new (block) AudioComponentPlugInInstance{
            {AP_Open, AP_Close, Lookup::Lookup, nullptr}, Construct, Destruct, {nullptr, nullptr}};
        return &record->mPlugInInterface;
    }
};

template <class Implementor> using AUBaseFactory = APFactory<AUBaseLookup, Implementor>;
template <class Implementor> using AUOutputBaseFactory = APFactory<AUOutputLookup, Implementor>;
template <class Implementor>
using AUOutputComplexBaseFactory = APFactory<AUComplexOutputLookup, Implementor>;
template <class Implementor>
using AUBaseProcessFactory = APFactory<AUBaseProcessLookup, Implementor>;
template <class Implementor>
using AUBaseProcessMultipleFactory = APFactory<AUBaseProcessMultipleLookup, Implementor>;
template <class Implementor> using AUMIDIEffectFactory = APFactory<AUMIDILookup, Implementor>;
template <class Implementor>
using AUMIDIProcessFactory = APFactory<AUMIDIProcessLookup, Implementor>;
template <class Implementor> using AUMusicDeviceFactory = APFactory<AUMusicLookup, Implementor>;

// Exports a unit class's two entry points: <Class>Factory, the Audio
// Component factory made by FactoryType (e.g. AUBaseFactory), and
// <Class>Entry, the Component Manager entry. Use once, at namespace scope, in
// the binary that is the component.
#define AUDIOCOMPONENT_ENTRY(FactoryType, Class)                                                   \
    extern "C" __attribute__((visibility("default")))                                              \
    AudioComponentPlugInInterface* Class##Factory(const AudioComponentDescription* inDesc);        \
    extern "C" AudioComponentPlugInInterface* Class##Factory(                                      \
        const AudioComponentDescription* inDesc) {                                                 \
        return FactoryType<Class>::Factory(inDesc);                                                \
    }                                                                                              \
    extern "C" __attribute__((visibility("default")))                                              \
    OSStatus Class##Entry(ComponentParameters* params, Class* obj);                                \
    extern "C" OSStatus Class##Entry(ComponentParameters* params, Class* obj) {                    \
        return ComponentEntryPoint<Class>::Dispatch(params, obj);                                  \
    }
