// The XML reader: one Expat parser for the process, turning a document into a
// small element tree that lives only while the parse callback runs.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// One parsed element. Character data is joined and stripped of leading and
// trailing white space; contents that are then empty count as none.
// Attributes keep document order.
struct xml_element {
    std::string name;
    std::string contents;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<std::unique_ptr<xml_element>> children;
};

using XmlCallback = std::function<int(const char* text, xml_element* root)>;

// Creates the parser when none exists; 0 when one exists afterwards.
int xml_init();
int xml_term();

// Value of the attribute with exactly this name, or null.
const char* xml_attr(const xml_element* element, const char* name);

// Parses `text` as one document and returns callback(text, root). A text
// that is not well-formed, has no root element, or a missing parser gives -1
// and "xml_parse: error" on the debug log, as does a non-zero callback result.
// An empty callback parses and returns 0: to dispatch a command element, call
// the one-argument xml_parse(text) of core/dispatch.h instead.
int xml_parse(const char* text, const XmlCallback& callback);
