#include "aufw/CAException.h"

#include <cctype>
#include <cstdio>
#include <cstring>

CAXException::CAXException(const char* operation, OSStatus err) noexcept : mError(err) {
    if (operation == nullptr) {
        mOperation[0] = '\0';
    } else {
        // Truncate instead of overflowing: the text is only for diagnostics.
        std::snprintf(mOperation, sizeof(mOperation), "%s", operation);
    }
}

char* CAXException::FormatError(char* str, size_t strSize, OSStatus error) noexcept {
    if (str == nullptr || strSize == 0) {
        return str;
    }
    const auto code = static_cast<UInt32>(error);
    const unsigned char chars[4] = {
        static_cast<unsigned char>(code >> 24), static_cast<unsigned char>(code >> 16),
        static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code)};
    bool printable = true;
    for (unsigned char c : chars) {
        if (!std::isprint(c)) {
            printable = false;
        }
    }
    if (printable) {
        std::snprintf(str, strSize, "'%c%c%c%c'", chars[0], chars[1], chars[2], chars[3]);
    } else {
        std::snprintf(str, strSize, "%d", static_cast<int>(error));
    }
    return str;
}

const char* CAXException::FormatError(char* str, size_t strSize) const noexcept {
    if (str == nullptr || strSize == 0) {
        return str;
    }
    char status[16];
    FormatError(status, sizeof(status), mError);
    if (mOperation[0] != '\0') {
        std::snprintf(str, strSize, "%s (%s)", status, mOperation);
    } else {
        std::snprintf(str, strSize, "%s", status);
    }
    return str;
}
