#include "xml/self.h"

#include "base/debug.h"
#include "common/str.h"

int self_parse(const xml_element* element, Self& out) {
    if (!element->name.empty()) {
        out.name = element->name;
        str::tolower(out.name);
    }
    if (!element->contents.empty()) {
        out.contents = element->contents;
    }
    for (const auto& attribute : element->attributes) {
        std::string key = attribute.first;
        str::tolower(key);
        out.attributes[key] = attribute.second;
    }
    out.children.reserve(out.children.size() + element->children.size());
    for (const auto& child : element->children) {
        out.children.emplace_back();
        self_parse(child.get(), out.children.back());
    }
    return 0;
}

int self_parse(const char* text, Self& out) {
    if (text == nullptr) {
        return self_parse(std::string(), out);
    }
    return self_parse(std::string(text), out);
}

int self_parse(const std::string& text, Self& out) {
    std::string copy = text;
    str::replace(copy, "\\/", "/");
    return xml_parse(copy.c_str(), [&out](const char*, xml_element* root) {
        self_parse(root, out);
        return 0;
    });
}

void self_dump(const Self& node, unsigned depth) {
    std::string indent(static_cast<size_t>(depth) * 2, ' ');
    debug_printf("%s***********************\n", indent.c_str());
    debug_printf("%sname     : %s\n", indent.c_str(), node.name.c_str());
    debug_printf("%scontents : %s\n", indent.c_str(), node.contents.c_str());
    for (const auto& attribute : node.attributes) {
        debug_printf("%sattr     : %s = %s\n", indent.c_str(), attribute.first.c_str(),
                     attribute.second.c_str());
    }
    for (const Self& child : node.children) {
        self_dump(child, depth + 1);
    }
}

void self_dump(const Self& node) {
    self_dump(node, 0);
}

namespace {

template <typename Node, typename Fn> int walk(Node& root, const Fn& fn) {
    int result = fn(root);
    if (result != 0) {
        return result;
    }
    for (auto& child : root.children) {
        if (walk(child, fn) != 0) {
            return 1;
        }
    }
    return 0;
}

} // namespace

int self_foreach(Self& root, const std::function<int(Self&)>& fn) {
    return walk(root, fn);
}

int self_foreach(const Self& root, const std::function<int(const Self&)>& fn) {
    return walk(root, fn);
}
