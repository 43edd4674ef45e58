#include "Json.h"

#include <fmt/format.h>

#include <cmath>

namespace vxhost {

std::string JsonWriter::quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20)
                out += fmt::format("\\u{:04x}", c);
            else
                out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

void JsonWriter::prefix(const char* key) {
    if (mNeedComma)
        mText += ",";
    if (mDepth > 0)
        mText += "\n" + std::string(static_cast<size_t>(mDepth) * 2, ' ');
    if (key)
        mText += quoted(key) + ": ";
    mNeedComma = true;
}

void JsonWriter::beginObject(const char* key) {
    prefix(key);
    mText += "{";
    ++mDepth;
    mNeedComma = false;
}

void JsonWriter::endObject() {
    --mDepth;
    mText += "\n" + std::string(static_cast<size_t>(mDepth) * 2, ' ') + "}";
    mNeedComma = true;
    if (mDepth == 0)
        mText += "\n";
}

void JsonWriter::beginArray(const char* key) {
    prefix(key);
    mText += "[";
    ++mDepth;
    mNeedComma = false;
}

void JsonWriter::endArray() {
    --mDepth;
    mText += "\n" + std::string(static_cast<size_t>(mDepth) * 2, ' ') + "]";
    mNeedComma = true;
}

void JsonWriter::string(const char* key, const std::string& value) {
    prefix(key);
    mText += quoted(value);
}

void JsonWriter::number(const char* key, double value) {
    prefix(key);
    mText += std::isfinite(value) ? fmt::format("{}", value) : "null";
}

void JsonWriter::integer(const char* key, long long value) {
    prefix(key);
    mText += fmt::format("{}", value);
}

void JsonWriter::boolean(const char* key, bool value) {
    prefix(key);
    mText += value ? "true" : "false";
}

void JsonWriter::null(const char* key) {
    prefix(key);
    mText += "null";
}

} // namespace vxhost
