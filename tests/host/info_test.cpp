// What vxhost list and info tell about a component, as text and as JSON.

#include "tool_runner.h"

#include <gtest/gtest.h>

using namespace hosttool;

namespace {
bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}
} // namespace

TEST(HostInfo, TextNamesComponentEntryParametersLatencyTailAndChannels) {
    Sandbox box;
    const ToolResult r = box.run({"info", "--component", bundle("HostTest")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.out, "Vextra Test: HostTest (aufx:HTst:VxTs), version 1.2.3")) << r.out;
    EXPECT_TRUE(has(r.out, "through the factory entry VXHostTestFactory")) << r.out;
    EXPECT_TRUE(has(r.out, "product       HostTest")) << r.out;
    EXPECT_TRUE(has(r.out, "instruction-set level")) << r.out;
    EXPECT_TRUE(has(r.out, "tail          0.01 s")) << r.out;
    EXPECT_TRUE(has(r.out, "1 in -> 2 out, 2 in -> 2 out")) << r.out;
    EXPECT_TRUE(has(r.out, "parameters    3")) << r.out;
    EXPECT_TRUE(has(r.out, "-24 .. 12 dB")) << r.out;
    EXPECT_TRUE(has(r.out, "10 ms")) << r.out;
}

TEST(HostInfo, JsonCarriesTheSameFactsThroughEitherEntry) {
    Sandbox box;
    for (const char* entry : {"factory", "cm"}) {
        const ToolResult r =
            box.run({"info", "--component", bundle("HostTest"), "--entry", entry, "--json"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(has(r.out, "\"codes\": \"aufx:HTst:VxTs\"")) << r.out;
        EXPECT_TRUE(has(r.out, std::string("\"entry\": \"") + entry + "\"")) << r.out;
        EXPECT_TRUE(has(r.out, entry == std::string("cm") ? "\"function\": \"VXHostTestEntry\""
                                                          : "\"function\": \"VXHostTestFactory\""))
            << r.out;
        EXPECT_TRUE(has(r.out, "\"tailSeconds\": 0.01")) << r.out;
        EXPECT_TRUE(has(r.out, "\"maximumFramesPerSlice\": 1156")) << r.out;
        EXPECT_TRUE(has(r.out, "\"name\": \"Latency\"")) << r.out;
        EXPECT_TRUE(has(r.out, "\"valueText\": \"10 ms\"")) << r.out;
        EXPECT_TRUE(has(r.out, "\"instructionSetLevel\"")) << r.out;
        EXPECT_TRUE(has(r.out, "\"in\": 1,\n      \"out\": 2")) << r.out;
        EXPECT_EQ(r.out.front(), '{');
    }
}

TEST(HostInfo, InstalledComponentsAreListedAndFoundByTheirCodes) {
    Sandbox box;
    ToolResult r = box.run({"list"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(has(r.out, "HTst"));

    box.install("HostTest");
    r = box.run({"list"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.out, "aufx:HTst:VxTs")) << r.out;
    EXPECT_TRUE(has(r.out, box.folder() + "/Library/Audio/Plug-Ins/Components/HostTest.component"))
        << r.out;
    EXPECT_TRUE(has(r.out, "1.2.3")) << r.out;

    r = box.run({"list", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.out, "\"subtype\": \"HTst\"")) << r.out;

    r = box.run({"info", "--component", "aufx:HTst:VxTs"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.out, "HostTest.component")) << r.out;
    EXPECT_FALSE(has(r.out, "registered by vxhost")) << "found installed, not registered";
}
