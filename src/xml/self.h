// Self: a plain value tree of one XML element and everything below it, with
// element and attribute names in lower case. Every command and every answer
// of the music service is read through it.
#pragma once

#include "xml/xml.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

struct Self {
    std::string name;
    std::string contents;
    std::map<std::string, std::string> attributes;
    std::vector<Self> children;
};

// Parses text into `out` (filled in place; callers pass a fresh tree). The
// service escapes slashes as backslash-slash; they are read as plain slashes.
// -1 when the text is not well-formed.
int self_parse(const char* text, Self& out);
int self_parse(const std::string& text, Self& out);
// Fills `out` from one parsed element and its descendants.
int self_parse(const xml_element* element, Self& out);

// Prints the tree on the debug log, two blanks of indent per level.
void self_dump(const Self& node, unsigned depth);
void self_dump(const Self& node);

// Depth-first walk in document order, the node before its children. A
// non-zero result of fn on the root is returned as it is; on a descendant it
// stops the walk and the result is 1. Nodes are passed by reference.
int self_foreach(Self& root, const std::function<int(Self&)>& fn);
int self_foreach(const Self& root, const std::function<int(const Self&)>& fn);
