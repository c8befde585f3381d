// Self: a plain value tree of one XML element and everything below it, with
// element and attribute names in lower case. Every command and every answer
// of the music service is read through it.
#pragma once

#include "xml/xml.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

// An element's attributes in ascending name order, each name once. Elements
// have a handful of attributes, so a sorted vector finds a name as quickly
// as a map does, and costs one allocation instead of one per attribute.
class SelfAttributes {
  public:
    using value_type = std::pair<std::string, std::string>;
    using const_iterator = std::vector<value_type>::const_iterator;

    const_iterator begin() const { return items_.begin(); }
    const_iterator end() const { return items_.end(); }
    size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }

    // The attribute with this name, or end().
    const_iterator find(const char* name) const;
    const_iterator find(const std::string& name) const { return find(name.c_str()); }
    // The value of this name; an empty text when there is none.
    const std::string& at(const std::string& name) const;

    // Appends an attribute whose name sorts after every name already there
    // (the reader adds them so).
    void take(std::string name, std::string value) {
        items_.emplace_back(std::move(name), std::move(value));
    }
    void reserve(size_t count) { items_.reserve(count); }

  private:
    std::vector<value_type> items_;
};

struct Self {
    std::string name;
    std::string contents;
    SelfAttributes attributes;
    std::vector<Self> children;
};

// Parses text into `out` (filled in place; callers pass a fresh tree). The
// service escapes slashes as backslash-slash; they are read as plain slashes.
// -1 when the text is not well-formed; `out` is then left empty.
int self_parse(const char* text, Self& out);
int self_parse(const std::string& text, Self& out);
// The same, handing every element to `take` as soon as its start tag is read
// (name and attributes filled, no children yet), in document order. An
// element it takes (true) is left out of the tree, with everything inside it
// (its inner elements are still handed over). A long list is so read record
// by record without ever standing whole in the tree.
int self_parse(const std::string& text, Self& out, bool (*take)(const Self& element));

// Prints the tree on the debug log, two blanks of indent per level.
void self_dump(const Self& node, unsigned depth);
void self_dump(const Self& node);

// Depth-first walk in document order, the node before its children. A
// non-zero result of fn on the root is returned as it is; on a descendant it
// stops the walk and the result is 1. Nodes are passed by reference.
int self_foreach(Self& root, const std::function<int(Self&)>& fn);
int self_foreach(const Self& root, const std::function<int(const Self&)>& fn);
