// The validation battery passes a good unit, and names the check that a
// faulty one fails, also when the fault is a crash or a hang.

#include "tool_runner.h"

#include <gtest/gtest.h>

using namespace hosttool;

TEST(HostValidate, PassesAGoodUnitAndNamesTheCheckAFaultyOneFails) {
    Sandbox box;
    ToolResult r =
        box.run({"validate", "--component", bundle("HostTest"), "--quick", "--repeat", "2"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(has(r.out, "FAIL")) << r.out;
    for (const char* check :
         {"open (cold)", "required properties", "channel configurations", "parameter set/get",
          "render every configuration", "render 96000 Hz", "too many frames", "32-frame slices",
          "bypass", "reset", "state save and restore", "bad arguments"})
        EXPECT_TRUE(has(r.out, std::string("PASS  ") + check)) << check << "\n" << r.out;
    EXPECT_EQ(missing(r.out, {"run 1 of 2", "run 2 of 2", "validate: PASSED"}), Missing{}) << r.out;

    // A property answered wrongly is named; the other checks still run.
    r = box.run({"validate", "--component", bundle("HostTestWrong"), "--quick"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(missing(r.out, {"FAIL  required properties", "Latency (12)", "validate: FAILED",
                              "PASS  reset"}),
              Missing{})
        << r.out;
}

// Out of process, the tool survives a unit that crashes or hangs in a check,
// and names that check.
TEST(HostValidate, OutOfProcessReportsACrashOrAHangAsTheFailedCheck) {
    Sandbox box;
    const ToolResult crash = box.run(
        {"validate", "--component", bundle("HostTestCrash"), "--quick", "--out-of-process"});
    const ToolResult hang = box.run({"validate", "--component", bundle("HostTestHang"), "--quick",
                                     "--out-of-process", "--check-timeout", "2"});
    for (const ToolResult* r : {&crash, &hang}) {
        EXPECT_EQ(r->status, 1) << r->out << r->err;
        EXPECT_EQ(r->signal, 0) << "the tool itself survives";
        EXPECT_TRUE(has(r->out, "PASS  render 48000 Hz") && has(r->out, "FAIL  render 96000 Hz"))
            << r->out;
    }
    EXPECT_EQ(missing(crash.out, {"the unit crashed the validation child: ",
                                  "; the checks after it did not run\n",
                                  "validate: FAILED (crash during 'render 96000 Hz')"}),
              Missing{})
        << crash.out;
    EXPECT_EQ(missing(hang.out, {"did not finish within 2 s; the validation child was stopped",
                                 "validate: FAILED (no answer during 'render 96000 Hz')"}),
              Missing{})
        << hang.out;
    const ToolResult bad = box.run({"validate", "--component", bundle("HostTestHang"),
                                    "--out-of-process", "--check-timeout", "soon"});
    EXPECT_EQ(bad.status, 2) << bad.out << bad.err;
}
