// The process's one Expat parser, shared by the command reader (xml.cpp) and
// the Self builder (self.cpp). Internal to the XML layer.
#pragma once

#include <cstddef>
#include <expat.h>

// Deeper documents are refused: the trees and their readers recurse, and no
// message or service answer comes anywhere near this.
constexpr size_t XML_MAX_DEPTH = 256;
// The largest piece of a text given to the parser at once.
constexpr size_t XML_PIECE = 64 * 1024;

struct XmlHandlers {
    XML_StartElementHandler start;
    XML_EndElementHandler end;
    XML_CharacterDataHandler text;
};

// Parses text[0, length) as one whole document with `handlers` and `user`.
// With `unescape_slashes`, each "\/" of the text is read as "/": the text is
// fed to the parser in the pieces between them, so it is never copied. A
// document type declaration is refused (no message or answer has one, and it
// is where entity expansion starts). False when the text is not well-formed
// or a handler stopped the parser.
bool xml_run(const char* text, size_t length, bool unescape_slashes, void* user,
             const XmlHandlers& handlers);

// Stops the running parse from inside a handler; xml_run then returns false.
void xml_stop();
