// Reading XML texts that come from outside (saved settings, the host's replies) safely with TinyXML.
//
// TinyXML told that a text is UTF-8 takes the length of every character from its lead byte. A text that is
// not UTF-8 (an ANSI text with accented letters) then has the bytes after such a letter swallowed into it:
// an '&' or '<' after it is not seen, so an attribute read back differs from the one written, and tags
// hidden that way escape a nesting check made beforehand. Such texts are read byte by byte instead.
#pragma once

#include <tinyxml.h>

namespace xml_text {

// Deeper nesting than this is refused before parsing: TinyXML parses nested elements recursively, and a
// hostile text could exhaust the stack of the calling thread.
constexpr int kMaxDepth = 64;

// True when the text is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsUtf8(const char* text);
// UTF-8 for a UTF-8 text, otherwise byte by byte (TinyXML's legacy reading).
TiXmlEncoding EncodingOf(const char* text);
// The deepest element nesting of a text, by a cheap scan (comments, CDATA sections, declarations and
// quoted attribute values are passed over), as TinyXML sees the elements when reading with EncodingOf.
int NestingDepth(const char* text);
// Parses a text into `document` with EncodingOf; false for a null or empty text, nesting deeper than
// maxDepth (not parsed at all) or a parse error.
bool Parse(TiXmlDocument* document, const char* text, int maxDepth = kMaxDepth);

}  // namespace xml_text
