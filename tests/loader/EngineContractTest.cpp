// The engine interface's binary layout, checked against an engine built as a
// separate module: every operation is reached through its fixed slot.
#include "LoaderTestSupport.h"

#include <engine_api/IAudioPlugin.h>

#include <dlfcn.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using ::testing::ElementsAre;

namespace {

template <typename R, typename... A> R callSlot(void* object, int slot, A... args) {
    void** table = *static_cast<void***>(object);
    return reinterpret_cast<R (*)(void*, A...)>(table[slot])(object, args...);
}

} // namespace

TEST(EngineContract, EveryOperationSitsInItsSlot) {
    void* module = dlopen(vxtest::testEngine("recording").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto factory =
        reinterpret_cast<CreateAudioPluginInstanceFn>(dlsym(module, "createAudioPluginInstance"));
    auto log = reinterpret_cast<const char* (*)()>(dlsym(module, "vxRecordingLog"));
    ASSERT_TRUE(factory && log);
    void* e = factory();
    vxtest::TestHost link;
    float lo = -1.f, hi = -1.f;
    float left[4] = {1, 1, 1, 1}, right[4] = {1, 1, 1, 1}, outL[4], outR[4];
    float* io[2] = {left, right};
    float* out[2] = {outL, outR};

    callSlot<void>(e, 0, "/p1");
    callSlot<void>(e, 1, "/p2");
    callSlot<void>(e, 2, "/p3");
    callSlot<void>(e, 3, "/v");
    callSlot<void>(e, 46, 3);
    callSlot<void>(e, 45, static_cast<IAudioHostLink*>(&link));
    EXPECT_TRUE(callSlot<bool>(e, 4));
    callSlot<void>(e, 6); // reserved: present, does nothing
    // The parameter count leads the info record.
    EXPECT_EQ(*reinterpret_cast<const uint32_t*>(callSlot<const AudioPluginInfo*>(e, 7)), 2u);
    EXPECT_STREQ(callSlot<const char*>(e, 8, 1), "Pan");
    callSlot<void>(e, 16, 0, &lo, &hi);
    EXPECT_EQ(lo, 0.f);
    EXPECT_EQ(hi, 1.f);
    EXPECT_EQ(callSlot<float>(e, 18, 0), 0.5f);
    callSlot<void>(e, 20, 0, 0.25f);
    EXPECT_EQ(callSlot<float>(e, 21, 0), 0.25f);
    callSlot<void>(e, 31, 0, io, out, 4);
    EXPECT_EQ(outL[3], 0.25f);
    for (int slot : {34, 35, 36, 38})
        callSlot<void>(e, slot);
    EXPECT_NE(callSlot<const void*>(e, 39), nullptr);
    EXPECT_EQ(callSlot<int>(e, 40), 8);
    callSlot<void>(e, 41, static_cast<const void*>(left), 16);
    EXPECT_EQ(callSlot<float>(e, 44), 0.25f);
    callSlot<void>(e, 5);

    std::vector<std::string> recorded;
    std::istringstream lines(log());
    for (std::string line; std::getline(lines, line);)
        recorded.push_back(line);
    dlclose(module);
    EXPECT_THAT(recorded,
                ElementsAre("construct", "ISetProductFolder1 /p1", "ISetProductFolder2 /p2",
                            "ISetProductFolder3 /p3", "ISetVendorFolder /v", "ISetISA 3",
                            "ISetHostLink link", "ICreate", "IGetInfo", "IGetParamName 1",
                            "IGetParamRange 0", "IGetParamDefault 0", "ISetParam 0 0.25",
                            "IGetParam 0", "IProcess 0 4 stereo", "ISuspend", "IReset", "IPrepare",
                            "ISaveState", "IGetStateData", "IGetStateSize", "ILoadState 16",
                            "IGetTailTime", "IDestroy"));

    // The host link's operations, in their order.
    void* l = &link;
    callSlot<void>(l, 0, 3);
    EXPECT_EQ(callSlot<int>(l, 1), 1);
    EXPECT_EQ(callSlot<float>(l, 2), 48000.f);
    EXPECT_EQ(callSlot<int>(l, 3), 3);
    EXPECT_EQ(callSlot<double>(l, 4), 4.0);
    EXPECT_EQ(callSlot<double>(l, 5), 5.0);
    EXPECT_TRUE(callSlot<bool>(l, 6));
    callSlot<void>(l, 7, 256);
    callSlot<void>(l, 8);
    EXPECT_THAT(link.calls, ElementsAre("changed 3", "window"));
    EXPECT_EQ(link.latencies, std::vector<int>{256});
}
