#include "xml/self.h"

#include "base/debug.h"
#include "common/str.h"
#include "xml/parser.h"

#include <algorithm>
#include <cstring>

namespace {

const std::string EMPTY;

bool name_before(const SelfAttributes::value_type& a, const SelfAttributes::value_type& b) {
    return a.first < b.first;
}

} // namespace

SelfAttributes::const_iterator SelfAttributes::find(const char* name) const {
    auto it = std::lower_bound(items_.begin(), items_.end(), name,
                               [](const value_type& item, const char* key) {
                                   return strcmp(item.first.c_str(), key) < 0;
                               });
    return it != items_.end() && it->first == name ? it : items_.end();
}

const std::string& SelfAttributes::at(const std::string& name) const {
    auto it = find(name);
    return it != end() ? it->second : EMPTY;
}

void SelfAttributes::set(std::string name, std::string value) {
    value_type item(std::move(name), std::move(value));
    auto it = std::lower_bound(items_.begin(), items_.end(), item, name_before);
    if (it != items_.end() && it->first == item.first) {
        it->second = std::move(item.second);
    } else {
        items_.insert(it, std::move(item));
    }
}

void SelfAttributes::sort_taken() {
    // An insertion sort: few attributes, often in order already. Stable, so
    // of two equal names the later one stands last and is the one kept.
    for (size_t i = 1; i < items_.size(); ++i) {
        if (!name_before(items_[i], items_[i - 1])) {
            continue;
        }
        value_type item = std::move(items_[i]);
        size_t j = i;
        for (; j > 0 && name_before(item, items_[j - 1]); --j) {
            items_[j] = std::move(items_[j - 1]);
        }
        items_[j] = std::move(item);
    }
    auto kept = items_.begin();
    for (auto it = items_.begin(); it != items_.end(); ++it) {
        auto next = it + 1;
        if (next != items_.end() && next->first == it->first) {
            continue;
        }
        if (kept != it) {
            *kept = std::move(*it);
        }
        ++kept;
    }
    items_.erase(kept, items_.end());
}

namespace {

constexpr const char* WHITE_SPACE = " \t\r\n";

// Builds the tree straight from the parser's events. The open elements are
// the path from the root; a new child only ever grows the vector of the
// innermost one, so pointers to the open elements stay valid.
struct SelfBuilder {
    Self* root;
    std::vector<Self*> open;
    bool (*take)(const Self&);
    // Depth of the outermost open element that was taken; 0 when none is.
    size_t taken_at;
    bool started;
};

// Names are ASCII in every message and answer; other bytes stay as they are.
std::string lower(const XML_Char* text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

void XMLCALL on_start(void* data, const XML_Char* name, const XML_Char** attributes) {
    auto* builder = static_cast<SelfBuilder*>(data);
    if (builder->open.size() >= XML_MAX_DEPTH) {
        xml_stop();
        return;
    }
    Self* node = builder->root;
    if (!builder->open.empty()) {
        builder->open.back()->children.emplace_back();
        node = &builder->open.back()->children.back();
    }
    builder->started = true;
    node->name = lower(name);
    size_t count = 0;
    while (attributes[count * 2] != nullptr) {
        ++count;
    }
    node->attributes.reserve(count);
    for (const XML_Char** a = attributes; a[0] != nullptr; a += 2) {
        node->attributes.take(lower(a[0]), a[1]);
    }
    node->attributes.sort_taken();
    builder->open.push_back(node);
    if (builder->take != nullptr && builder->take(*node) && builder->taken_at == 0 &&
        builder->open.size() > 1) {
        builder->taken_at = builder->open.size();
        node->attributes = SelfAttributes();
    }
}

// The element's own text was gathered in its contents; what stands between
// leading and trailing white space is kept.
void XMLCALL on_end(void* data, const XML_Char*) {
    auto* builder = static_cast<SelfBuilder*>(data);
    if (builder->open.empty()) {
        return;
    }
    std::string& text = builder->open.back()->contents;
    size_t last = text.find_last_not_of(WHITE_SPACE);
    if (last == std::string::npos) {
        text.clear();
    } else {
        text.erase(last + 1);
        text.erase(0, text.find_first_not_of(WHITE_SPACE));
    }
    if (builder->taken_at == builder->open.size()) {
        // The taken element is the last child of its parent.
        builder->taken_at = 0;
        builder->open.pop_back();
        builder->open.back()->children.pop_back();
        return;
    }
    builder->open.pop_back();
}

void XMLCALL on_text(void* data, const XML_Char* text, int length) {
    auto* builder = static_cast<SelfBuilder*>(data);
    if (!builder->open.empty()) {
        builder->open.back()->contents.append(text, static_cast<size_t>(length));
    }
}

int parse_into(const char* text, size_t length, Self& out, bool (*take)(const Self&)) {
    SelfBuilder builder{&out, {}, take, 0, false};
    if (text == nullptr || !xml_run(text, length, true, &builder, {on_start, on_end, on_text}) ||
        !builder.started) {
        out = Self();
        debug_printf("xml_parse: error\n");
        return -1;
    }
    return 0;
}

} // namespace

int self_parse(const char* text, Self& out) {
    return parse_into(text != nullptr ? text : "", text != nullptr ? strlen(text) : 0, out,
                      nullptr);
}

int self_parse(const std::string& text, Self& out) {
    return parse_into(text.data(), text.size(), out, nullptr);
}

int self_parse(const std::string& text, Self& out, bool (*take)(const Self&)) {
    return parse_into(text.data(), text.size(), out, take);
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
