// The status-carrying exceptions of the framework layer.
#include "aufw/CAException.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(CAException, OneHandlerServesBothKinds) {
    OSStatus caught = 0;
    try {
        throw CAException(-4);
    } catch (const CAXException& e) {
        caught = e.GetOSStatus();
        EXPECT_STREQ(e.GetOperation(), "");
    }
    EXPECT_EQ(caught, -4);

    try {
        XThrowIfError(-10868, "setting the format");
        FAIL() << "nothing raised";
    } catch (const CAXException& e) {
        EXPECT_EQ(e.GetError(), -10868);
        EXPECT_STREQ(e.GetOperation(), "setting the format");
    }
    EXPECT_NO_THROW(XThrowIfError(0, "nothing"));
    EXPECT_NO_THROW(ThrowIfError(0));
    EXPECT_THROW(ThrowIfError(-50), CAException);
}

TEST(CAException, LongOperationTextIsCut) {
    const std::string longText(1000, 'o');
    CAXException e(longText.c_str(), -1);
    EXPECT_EQ(std::strlen(e.GetOperation()), CAXException::kOperationCapacity - 1);
}

TEST(CAException, FormattedStatus) {
    char buf[64];
    EXPECT_STREQ(CAXException::FormatError(buf, sizeof(buf), -50), "-50");
    EXPECT_STREQ(CAXException::FormatError(buf, sizeof(buf), 0x21707468), "'!pth'");
    EXPECT_STREQ(CAXException(nullptr, -108).FormatError(buf, sizeof(buf)), "-108");
    EXPECT_STREQ(CAXException("opening", -43).FormatError(buf, sizeof(buf)), "-43 (opening)");
    char small[4];
    std::memset(small, '#', sizeof(small));
    CAXException::FormatError(small, sizeof(small), -10868);
    EXPECT_STREQ(small, "-10");
}

} // namespace
