// Writing property-list objects as XML in the platform's layout (tab
// indentation, sorted dictionary keys). A value the format cannot carry (a
// character XML does not allow, a date outside the years 1 to 9999) is
// refused: a file no XML reader accepts is never written.
#include "cf/cf_collections.h"
#include "cf/cf_data.h"
#include "cf/cf_number.h"
#include "cf/cf_plist_xml.h"
#include "cf/cf_string.h"

#include <fmt/format.h>

namespace vxplatform::plist {

namespace {

class Writer {
public:
    explicit Writer(std::string& out) : mOut(out) {}

    bool write(CFTypeRef value, int depth) {
        if (depth > kMaxDepth) {
            return fail("nesting deeper than 512 levels");
        }
        const std::string indent(static_cast<size_t>(depth), '\t');
        const CFTypeID type = value != nullptr ? CFGetTypeID(value) : 0;
        if (type == CFStringGetTypeID()) {
            mOut += indent + "<string>";
            if (!text(asString(value)->text(), "string")) {
                return false;
            }
            mOut += "</string>\n";
        } else if (type == CFNumberGetTypeID()) {
            const Number* n = asNumber(value);
            mOut += indent + (n->isFloat() ? "<real>" : "<integer>") + n->text() +
                    (n->isFloat() ? "</real>\n" : "</integer>\n");
        } else if (type == CFBooleanGetTypeID()) {
            mOut += indent + (CFBooleanGetValue(static_cast<CFBooleanRef>(value)) ? "<true/>\n"
                                                                                  : "<false/>\n");
        } else if (type == CFDataGetTypeID()) {
            const Data* d = asData(value);
            const std::string encoded = base64Encode(d->bytes(), d->length());
            mOut += indent + "<data>\n";
            const size_t line = 68;
            for (size_t k = 0; k < encoded.size(); k += line) {
                mOut += indent + encoded.substr(k, line) + "\n";
            }
            mOut += indent + "</data>\n";
        } else if (type == CFDateGetTypeID()) {
            const CFAbsoluteTime at = CFDateGetAbsoluteTime(static_cast<CFDateRef>(value));
            const auto written = dateText(at);
            if (!written) {
                return fail(fmt::format("the date {} seconds from 2001 lies outside the years 1 "
                                        "to 9999 that the format carries",
                                        at));
            }
            mOut += indent + "<date>" + *written + "</date>\n";
        } else if (type == CFArrayGetTypeID()) {
            const Array* a = asArray(value);
            if (a->count() == 0) {
                mOut += indent + "<array/>\n";
                return true;
            }
            mOut += indent + "<array>\n";
            for (const void* item : a->values()) {
                if (!write(item, depth + 1)) {
                    return false;
                }
            }
            mOut += indent + "</array>\n";
        } else if (type == CFDictionaryGetTypeID()) {
            const Dictionary* d = asDictionary(value);
            if (d->count() == 0) {
                mOut += indent + "<dict/>\n";
                return true;
            }
            mOut += indent + "<dict>\n";
            for (const auto& [key, item] : d->sortedEntries()) {
                if (asString(key) == nullptr) {
                    return fail("dictionary keys must be strings");
                }
                mOut += indent + "\t<key>";
                if (!text(asString(key)->text(), "key")) {
                    return false;
                }
                mOut += "</key>\n";
                if (!write(item, depth + 1)) {
                    return false;
                }
            }
            mOut += indent + "</dict>\n";
        } else {
            return fail(value == nullptr ? "a null value"
                                         : std::string("cannot store a ") + typeName(type));
        }
        return true;
    }

    const std::string& error() const { return mError; }

private:
    bool text(const std::u16string& text, const char* what) {
        std::string problem;
        if (escapeText(text, mOut, problem)) {
            return true;
        }
        const std::string start = utf16ToUTF8(std::u16string_view(text).substr(0, 24));
        std::string shown;
        for (char c : start) { // the message itself must stay printable
            shown += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
        }
        return fail(fmt::format("the {} \"{}{}\" holds {}", what, shown,
                                text.size() > 24 ? "..." : "", problem));
    }

    bool fail(std::string message) {
        mError = std::move(message);
        return false;
    }

    std::string& mOut;
    std::string mError;
};

} // namespace

bool writePlist(CFPropertyListRef value, std::string& out, std::string& message) {
    Writer writer(out);
    if (!writer.write(value, 0)) {
        message = writer.error();
        return false;
    }
    return true;
}

} // namespace vxplatform::plist
