// The status-carrying exceptions of the framework layer.
#include "aufw/CAException.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(CAException, OneHandlerServesBothKindsAndFormatsTheStatus) {
    try {
        throw CAException(-4);
    } catch (const CAXException& e) {
        EXPECT_EQ(e.GetOSStatus(), -4);
        EXPECT_STREQ(e.GetOperation(), "");
    }
    try {
        XThrowIfError(-10868, "setting the format");
        ADD_FAILURE() << "nothing raised";
    } catch (const CAXException& e) {
        EXPECT_EQ(e.GetError(), -10868);
        EXPECT_STREQ(e.GetOperation(), "setting the format");
    }
    EXPECT_NO_THROW(XThrowIfError(0, "nothing"));
    EXPECT_THROW(ThrowIfError(-50), CAException);
    const std::string longText(1000, 'o');
    EXPECT_EQ(std::strlen(CAXException(longText.c_str(), -1).GetOperation()),
              CAXException::kOperationCapacity - 1);

    char buf[64];
    EXPECT_STREQ(CAXException::FormatError(buf, sizeof(buf), -50), "-50");
    EXPECT_STREQ(CAXException::FormatError(buf, sizeof(buf), 0x21707468), "'!pth'");
    EXPECT_STREQ(CAXException(nullptr, -108).FormatError(buf, sizeof(buf)), "-108");
    EXPECT_STREQ(CAXException("opening", -43).FormatError(buf, sizeof(buf)), "-43 (opening)");
    char small[4];
    CAXException::FormatError(small, sizeof(small), -10868);
    EXPECT_STREQ(small, "-10");
}

} // namespace
