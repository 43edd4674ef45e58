// Error record filled by Foundation calls that can fail.
#pragma once

#include <VXExport.h>

#include <Foundation/NSObjCRuntime.h>
#include <Foundation/NSString.h>

// The POSIX error domain; code() then holds the errno value.
extern const char* const NSPOSIXErrorDomain;

class VX_EXPORT NSError {
public:
    NSError() = default;
    NSError(const char* domain, NSInteger code, NSString description)
        : m_domain(domain), m_code(code), m_description(std::move(description)) {}

    const char* domain() const { return m_domain; }
    NSInteger code() const { return m_code; }
    const NSString& localizedDescription() const { return m_description; }

private:
    const char* m_domain = "";
    NSInteger m_code = 0;
    NSString m_description;
};
