#include "framework/XmlText.h"

#include <cstdint>

namespace xml_text {

namespace {

// Plain loops rather than the C library's string searches: checked builds measure the whole remaining
// text at every search, which makes a scan of a long text quadratic.
bool StartsWith(const char* p, const char* prefix) {
    for (; *prefix; ++p, ++prefix) {
        if (*p != *prefix) return false;
    }
    return true;
}

// Just past the first `end` at or after p, or the terminator when there is none.
const char* SkipPast(const char* p, const char* end) {
    for (; *p; ++p) {
        if (StartsWith(p, end)) {
            while (*end) ++p, ++end;
            return p;
        }
    }
    return p;
}

}  // namespace

bool IsUtf8(const char* text) {
    if (!text) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra;
        uint32_t value;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            value = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            value = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            value = c & 0x07;
        } else {
            return false;  // a continuation byte without a lead, an overlong lead or beyond U+10FFFF
        }
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;  // also stops at the terminator
            value = (value << 6) | (p[i] & 0x3F);
        }
        if ((extra == 2 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))) ||
            (extra == 3 && (value < 0x10000 || value > 0x10FFFF))) {
            return false;
        }
        p += extra + 1;
    }
    return true;
}

TiXmlEncoding EncodingOf(const char* text) {
    return IsUtf8(text) ? TIXML_ENCODING_UTF8 : TIXML_ENCODING_LEGACY;
}

int NestingDepth(const char* text) {
    if (!text) return 0;
    int depth = 0;
    int deepest = 0;
    const char* p = text;
    for (;;) {
        while (*p && *p != '<') ++p;
        if (!*p) break;
        if (StartsWith(p, "<!--")) {
            p = SkipPast(p + 4, "-->");
        } else if (StartsWith(p, "<![CDATA[")) {
            p = SkipPast(p + 9, "]]>");
        } else if (p[1] == '?' || p[1] == '!') {
            p = SkipPast(p + 2, ">");
        } else if (p[1] == '/') {
            if (depth > 0) --depth;
            p = SkipPast(p + 2, ">");
        } else {
            // An opening tag: find its end outside quoted values; "/>" closes it at once.
            char quote = 0;
            const char* q = p + 1;
            for (; *q && (quote || *q != '>'); ++q) {
                if (quote) {
                    if (*q == quote) quote = 0;
                } else if (*q == '"' || *q == '\'') {
                    quote = *q;
                }
            }
            if (!(*q == '>' && q[-1] == '/')) {
                if (++depth > deepest) deepest = depth;
            }
            p = *q ? q + 1 : q;
        }
    }
    return deepest;
}

bool Parse(TiXmlDocument* document, const char* text, int maxDepth) {
    if (!document || !text || !*text) return false;
    if (NestingDepth(text) > maxDepth) return false;
    document->Parse(text, nullptr, EncodingOf(text));
    return !document->Error();
}

}  // namespace xml_text
