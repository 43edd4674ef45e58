#include <Foundation/NSString.h>

NSString::NSString(const char* utf8) : m_utf8(utf8 ? utf8 : "") {}

NSString NSString::stringByAppendingPathComponent(const NSString& component) const {
    std::string joined = m_utf8;
    if (!joined.empty() && !component.m_utf8.empty())
        joined += '/';
    joined += component.m_utf8;

    std::string folded;
    folded.reserve(joined.size());
    for (char c : joined) {
        if (c == '/' && !folded.empty() && folded.back() == '/')
            continue;
        folded += c;
    }
    if (folded.size() > 1 && folded.back() == '/')
        folded.pop_back();
    return NSString(std::move(folded));
}

NSString NSString::lastPathComponent() const {
    std::string::size_type end = m_utf8.find_last_not_of('/');
    if (end == std::string::npos)
        return NSString(m_utf8.empty() ? std::string() : std::string("/"));
    std::string::size_type slash = m_utf8.rfind('/', end);
    std::string::size_type start = slash == std::string::npos ? 0 : slash + 1;
    return NSString(m_utf8.substr(start, end + 1 - start));
}
