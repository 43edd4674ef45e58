#include "EngineModule.h"

#include <dlfcn.h>

namespace vxbench {

bool EngineModule::open(const std::string& path) {
    close();
    mHandle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!mHandle) {
        const char* why = ::dlerror();
        mError = why ? why : "dlopen failed";
        return false;
    }
    mFactory = reinterpret_cast<CreateAudioPluginInstanceFn>(
        ::dlsym(mHandle, "createAudioPluginInstance"));
    if (!mFactory) {
        mError = "no createAudioPluginInstance in " + path;
        close();
        return false;
    }
    return true;
}

void EngineModule::close() {
    if (mHandle)
        ::dlclose(mHandle);
    mHandle = nullptr;
    mFactory = nullptr;
}

IAudioPlugin* EngineModule::createPrepared(IAudioHostLink* link) const {
    IAudioPlugin* engine = create();
    if (!engine)
        return nullptr;
    engine->ISetHostLink(link);
    if (!engine->ICreate()) {
        engine->IDestroy();
        return nullptr;
    }
    engine->IPrepare();
    engine->IReset();
    return engine;
}

} // namespace vxbench
