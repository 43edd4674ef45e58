// The thread legend. Every function that crosses a boundary of the system
// (the engine contract, the host link, the framework's hooks, the platform's
// Audio Unit calls) carries one comment line beside its declaration made of
// these tags, in this order: thread, state, overlap, then who owns each
// pointer and how long a returned one stays valid. A tag that would say
// nothing (a call without pointers) is left out; words may narrow a tag
// ("ANY but RENDER", "not during a render call").
//
// Thread: who calls.
//   OPEN     the host's opening thread, inside the process-wide open lock:
//            one instance is constructed at a time, nothing else reaches it.
//   CLOSE    the host's closing thread; no other call on the instance is in
//            flight, and none comes afterwards.
//   RENDER   the render thread: everything beneath one render or process
//            call. One at a time per instance. No allocation, locks, logging
//            or system calls.
//   CONTROL  a host control thread: properties, parameters, formats,
//            initialize and uninitialize, reset, listeners, presets. The host
//            serializes control calls on one instance among themselves; the
//            framework takes no lock of its own.
//   ANY      any of the above, RENDER included: parameter calls (hosts apply
//            scheduled changes from the render thread) and the host link (the
//            engine calls from wherever it runs, IProcess included).
//
// State: what the instance has been through.
//   NEW      engine only: made by the factory, ICreate not yet answered true.
//   READY    engine only: ICreate answered true, IDestroy not yet called.
//   UNINIT   the unit is not initialized (no buffers; a render call is
//            refused).
//   INIT     the unit is initialized (buffers allocated, rendering allowed).
//   EITHER   initialized or not.
//
// Overlap: what may run on the same instance at the same moment.
//   ALONE    nothing.
//   +RENDER  a render call (and through it the engine's IProcess).
//   +PARAM   parameter calls from other threads (hosts set parameters from
//            any thread at any time), and nothing else.
//   +CONTROL one control call (the overlap a render call must tolerate).
//   +ANY     anything, including another call of the same kind from another
//            thread.
//
// Pointers: who owns each one, and for how long.
//   BORROWED     the caller's; valid for the call only, the callee copies
//                what it keeps.
//   KEPT         the callee keeps the pointer; the line says until when.
//   RETAINED     a Core Foundation object handed over with a reference the
//                receiver releases.
//   VALID UNTIL  a returned pointer stays owned by the callee and readable
//                until the named event (IDestroy, the next call of ...).
//
// Procedures a host hands in (listeners, render notifications, input
// callbacks, host callbacks) are called on the thread of the event that
// triggers them: render notifications and input callbacks on RENDER, a
// property listener synchronously on whichever thread announced the change.
#pragma once
