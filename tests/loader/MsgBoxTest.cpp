#include "AlertRecorder.h"

#include <AppKit/NSAlert.h>
#include <loader/MsgBox.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Buttons = std::vector<std::string>;

TEST(MsgBox, ShowsTextWithTheCutCaptionAndAnswersQuestionsTwoForNo) {
    unithost::AlertRecorder recorder;
    NSVextra::SET_MSG_BOX_CAPTION(std::string(450, 'c').c_str());
    EXPECT_EQ(std::string(NSVextra::g_szMsgBoxCaption), std::string(199, 'c'));
    NSVextra::SET_MSG_BOX_CAPTION("Vextra-Audio Delay");
    recorder.answer = NSAlertSecondButtonReturn; // not a button of a plain alert
    EXPECT_EQ(NSVextra::SHOW_MSG_BOX("Something failed.", 5), 0);
    recorder.answer = NSAlertFirstButtonReturn;
    EXPECT_EQ(NSVextra::SHOW_MSG_BOX("Replace?", 1), 2);
    recorder.answer = NSAlertSecondButtonReturn;
    EXPECT_EQ(NSVextra::SHOW_MSG_BOX("Replace?", 1), 1);
    recorder.answer = 4711; // nonsense from the handler counts as the first button
    EXPECT_EQ(NSVextra::SHOW_MSG_BOX("Replace?", 1), 2);
    NSVextra::SET_MSG_BOX_CAPTION(nullptr);
    NSVextra::SHOW_MSG_BOX("x", 0);
    ASSERT_EQ(recorder.alerts.size(), 5u);
    EXPECT_EQ(recorder.alerts[0].message, "Something failed.");
    EXPECT_EQ(recorder.alerts[0].informative, "Vextra-Audio Delay") << "no tail of the longer one";
    EXPECT_EQ(recorder.alerts[0].buttons, Buttons{"OK"});
    EXPECT_EQ(recorder.alerts[1].buttons, (Buttons{"No", "Yes"}));
    EXPECT_EQ(recorder.alerts[4].informative, "");
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
