#include "LoaderTestSupport.h"

#include <AppKit/NSAlert.h>
#include <loader/MsgBox.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using vxtest::AlertRecorder;
using Buttons = std::vector<std::string>;

TEST(MsgBox, ShowsTextWithTheCaptionAndAnswersQuestionsTwoForNo) {
    AlertRecorder recorder;
    NSVextra::SET_MSG_BOX_CAPTION("Vextra-Audio Delay");
    recorder.answer = NSAlertSecondButtonReturn; // not a button of a plain alert
    EXPECT_EQ(NSVextra::SHOW_MSG_BOX("Something failed.", 5), 0);
    recorder.answer = NSAlertFirstButtonReturn;
    EXPECT_EQ(NSVextra::SHOW_MSG_BOX("Replace?", 1), 2);
    recorder.answer = NSAlertSecondButtonReturn;
    EXPECT_EQ(NSVextra::SHOW_MSG_BOX("Replace?", 1), 1);
    recorder.answer = 4711; // nonsense from the handler counts as the first button
    EXPECT_EQ(NSVextra::SHOW_MSG_BOX("Replace?", 1), 2);
    ASSERT_EQ(recorder.alerts.size(), 4u);
    EXPECT_EQ(recorder.alerts[0].message, "Something failed.");
    EXPECT_EQ(recorder.alerts[0].informative, "Vextra-Audio Delay");
    EXPECT_EQ(recorder.alerts[0].buttons, Buttons{"OK"});
    EXPECT_EQ(recorder.alerts[1].buttons, (Buttons{"No", "Yes"}));
}

TEST(MsgBox, CaptionIsCutToItsStoreAndReplacedWhole) {
    AlertRecorder recorder;
    const std::string longCaption(450, 'c');
    NSVextra::SET_MSG_BOX_CAPTION(longCaption.c_str());
    EXPECT_EQ(std::string(NSVextra::g_szMsgBoxCaption), longCaption.substr(0, 199));
    NSVextra::SET_MSG_BOX_CAPTION("short");
    EXPECT_STREQ(NSVextra::g_szMsgBoxCaption, "short") << "no tail of the longer caption";
    NSVextra::SET_MSG_BOX_CAPTION(nullptr);
    NSVextra::SHOW_MSG_BOX("x", 0);
    ASSERT_EQ(recorder.alerts.size(), 1u);
    EXPECT_EQ(recorder.alerts[0].informative, "");
}

TEST(Alert, WithoutAHandlerTheDefaultButtonAnswersAndTheTextsGoToStandardError) {
    VXAlertSetHandler(nullptr, nullptr);
    ::testing::internal::CaptureStderr();
    NSAlert alert;
    alert.setMessageText("Module missing.");
    alert.setInformativeText("Vextra-Audio Delay");
    alert.addButtonWithTitle("Cancel");
    alert.addButtonWithTitle("Go");
    EXPECT_EQ(alert.runModal(), NSAlertFirstButtonReturn);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Module missing."), std::string::npos);
    EXPECT_NE(err.find("Vextra-Audio Delay"), std::string::npos);
}
