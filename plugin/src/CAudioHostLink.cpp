#include <plugin/CAudioHostLink.h>

#include <dlfcn.h>

void CAudioHostLink::setIAP(IAudioPlugin* inIAP) {
    mIAP = inIAP;
    if (mIAP != nullptr) {
        mIAP->ISetHostLink(this);
    }
}

CAudioHostLink::~CAudioHostLink() {
    if (mIAP != nullptr) {
        mIAP->IDestroy();
        mIAP = nullptr;
    }
    // The result does not matter: nothing of the module is used afterwards.
    // A null handle is skipped because this platform's loader faults on one
    // instead of answering an error.
    if (mModuleHandle != nullptr) {
        dlclose(mModuleHandle);
        mModuleHandle = nullptr;
    }
}
