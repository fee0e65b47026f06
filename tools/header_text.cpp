#include "header_text.h"

#include <cstdio>

namespace sidtune {
namespace {

void appendUtf8(std::string& out, unsigned char byte) {
    if (byte < 0x80) {
        out += char(byte);
    } else {
        out += char(0xC0 | byte >> 6);
        out += char(0x80 | (byte & 0x3F));
    }
}

bool isControl(unsigned char byte) { return byte < 0x20 || (byte >= 0x7F && byte < 0xA0); }

}  // namespace

std::string latin1ToUtf8(const char* text) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) appendUtf8(out, *p);
    return out;
}

std::string printableName(const std::string& name) {
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(name.data());
    const auto* end = p + name.size();
    while (p < end) {
        // The length of a valid UTF-8 sequence here (no overlong forms, no surrogates), or 0.
        size_t n = 0;
        uint32_t c = *p;
        if (c < 0x80) {
            n = 1;
        } else if (c >= 0xC2 && c <= 0xF4) {
            n = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            c &= n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07;
            for (size_t i = 1; i < n; ++i) {
                if (p + i >= end || (p[i] & 0xC0) != 0x80) {
                    n = 0;
                    break;
                }
                c = c << 6 | (p[i] & 0x3F);
            }
            if ((n == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) ||
                (n == 4 && (c < 0x10000 || c > 0x10FFFF)))
                n = 0;
        }
        char escaped[12];
        if (n == 0) {
            std::snprintf(escaped, sizeof escaped, "\\x%02x", *p);  // a byte that is no UTF-8
            out += escaped;
            ++p;
        } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(c));  // a control character
            out += escaped;
            p += n;
        } else {
            out.append(reinterpret_cast<const char*>(p), n);
            p += n;
        }
    }
    return out;
}

std::string printableHeaderText(const char* text) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (isControl(*p)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", *p);
            out += escaped;
        } else {
            appendUtf8(out, *p);
        }
    }
    return out;
}

}  // namespace sidtune
