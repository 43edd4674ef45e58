// Exceptions of the framework layer. Deeper operations raise a status this
// way; the component entry turns it back into the call's result.
#pragma once

#include <MacTypes.h>

#include <cstddef>

// An error raised with the operation that failed, for diagnostics.
// Deliberately not derived from std::exception: the entry layer maps any
// unknown exception to -1, and only these carry a status of their own.
class CAXException {
public:
    CAXException(const char* operation, OSStatus err) noexcept;
    virtual ~CAXException() = default;

    OSStatus GetOSStatus() const noexcept { return mError; }
    OSStatus GetError() const noexcept { return mError; }
    const char* GetOperation() const noexcept { return mOperation; }

    // Writes a printable form of a status into str (at least 16 bytes are
    // enough): the four characters between apostrophes when the status
    // spells printable text, otherwise the decimal number. Returns str.
    static char* FormatError(char* str, size_t strSize, OSStatus error) noexcept;

    // A readable description of this error, e.g. "-50 (opening the unit)".
    const char* FormatError(char* str, size_t strSize) const noexcept;

    static constexpr size_t kOperationCapacity = 256;

private:
    char mOperation[kOperationCapacity];
    OSStatus mError;
};

// An error that carries only its status. It is a kind of CAXException so
// that one handler serves both.
class CAException : public CAXException {
public:
    explicit CAException(OSStatus err) noexcept : CAXException(nullptr, err) {}
};

// Raises err as a CAXException naming the operation when it is not 0.
inline void XThrowIfError(OSStatus err, const char* operation) {
    if (err != 0) {
        throw CAXException(operation, err);
    }
}

// Raises err as a CAException when it is not 0.
inline void ThrowIfError(OSStatus err) {
    if (err != 0) {
        throw CAException(err);
    }
}
