// The status-carrying exceptions of the framework layer.
#include "aufw/CAException.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

TEST(CAException, OneHandlerServesBothKindsAndFormatsTheStatus) {
    try {
        ThrowIfError(-4);
        ADD_FAILURE() << "nothing raised";
    } catch (const CAXException& e) {
        EXPECT_EQ(std::make_tuple(e.GetOSStatus(), std::string(e.GetOperation())),
                  std::make_tuple(-4, ""));
    }
    try {
        XThrowIfError(-10868, "setting the format");
        ADD_FAILURE() << "nothing raised";
    } catch (const CAXException& e) {
        EXPECT_EQ(std::make_tuple(e.GetError(), std::string(e.GetOperation())),
                  std::make_tuple(-10868, "setting the format"));
    }
    EXPECT_NO_THROW(XThrowIfError(0, "nothing"));
    const std::string longText(1000, 'o');
    EXPECT_EQ(std::strlen(CAXException(longText.c_str(), -1).GetOperation()),
              CAXException::kOperationCapacity - 1);

    char a[64], b[64], c[64], d[64], small[4];
    CAXException::FormatError(small, sizeof(small), -10868);
    EXPECT_EQ(
        (std::vector<std::string>{CAXException::FormatError(a, sizeof(a), -50),
                                  CAXException::FormatError(b, sizeof(b), 0x21707468),
                                  CAXException(nullptr, -108).FormatError(c, sizeof(c)),
                                  CAXException("opening", -43).FormatError(d, sizeof(d)), small}),
        (std::vector<std::string>{"-50", "'!pth'", "-108", "-43 (opening)", "-10"}));
}
