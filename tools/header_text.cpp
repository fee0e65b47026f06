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
