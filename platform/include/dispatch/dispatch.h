// One-time initialisation.
#pragma once

#include <VXExport.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef long dispatch_once_t;
typedef void (*dispatch_function_t)(void* context);

// Runs function(context) exactly once per predicate (zero-initialised, static
// or global); every caller returns only after that run has finished.
VX_EXPORT void
dispatch_once_f(dispatch_once_t* predicate, void* context, dispatch_function_t function);

#ifdef __cplusplus
}

#include <type_traits>

// Blocks do not exist here; any callable stands in for the block.
template <class Block> inline void dispatch_once(dispatch_once_t* predicate, Block&& block) {
    using Callable = std::remove_reference_t<Block>;
    auto run = [](void* context) { (*static_cast<Callable*>(context))(); };
    dispatch_once_f(predicate, const_cast<void*>(static_cast<const void*>(&block)), run);
}
#endif
