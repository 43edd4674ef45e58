// What vxhost list and info tell about a component, as text and as JSON.

#include "tool_runner.h"

#include <gtest/gtest.h>

using namespace hosttool;

TEST(HostInfo, ListAndInfoNameComponentEntryParametersLatencyTailAndChannels) {
    Sandbox box;
    ToolResult r = box.run({"info", "--component", bundle("HostTest")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(missing(r.out, {"Vextra Test: HostTest (aufx:HTst:VxTs), version 1.2.3",
                              "through the factory entry VXHostTestFactory",
                              "product       HostTest", "instruction-set level",
                              "tail          0.01 s", "1 in -> 2 out, 2 in -> 2 out",
                              "parameters    3", "-24 .. 12 dB", "10.0 msecs"}),
              Missing{})
        << r.out;
    r = box.run({"info", "--component", bundle("HostTest"), "--json"});
    EXPECT_EQ(r.out.front(), '{');
    EXPECT_EQ(missing(r.out, {"\"codes\": \"aufx:HTst:VxTs\"", "\"tailSeconds\": 0.01",
                              "\"maximumFramesPerSlice\": 1156", "\"name\": \"Latency\"",
                              "\"valueText\": \"10.0 msecs\"", "\"instructionSetLevel\"",
                              "\"in\": 1,\n      \"out\": 2", "\"entry\": \"factory\"",
                              "\"function\": \"VXHostTestFactory\""}),
              Missing{})
        << r.out;

    // Installed, it is listed and found by its codes, not registered by vxhost.
    box.install("HostTest");
    r = box.run({"list"});
    EXPECT_EQ(missing(r.out, {"aufx:HTst:VxTs", "1.2.3", box.folder(),
                              "/Library/Audio/Plug-Ins/Components/HostTest.component"}),
              Missing{})
        << r.out;
    EXPECT_TRUE(has(box.run({"list", "--json"}).out, "\"subtype\": \"HTst\""));
    r = box.run({"info", "--component", "aufx:HTst:VxTs"});
    EXPECT_TRUE(has(r.out, "HostTest.component") && !has(r.out, "registered by vxhost")) << r.out;
}
