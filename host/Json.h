// A small writer for the host's machine-readable output.
#pragma once

#include <string>

namespace vxhost {

class JsonWriter {
public:
    void beginObject(const char* key = nullptr);
    void endObject();
    void beginArray(const char* key = nullptr);
    void endArray();
    void string(const char* key, const std::string& value);
    void number(const char* key, double value);
    void integer(const char* key, long long value);
    void boolean(const char* key, bool value);
    void null(const char* key);

    const std::string& text() const { return mText; }

private:
    void prefix(const char* key);
    static std::string quoted(const std::string& text);

    std::string mText;
    bool mNeedComma = false;
    int mDepth = 0;
};

} // namespace vxhost
