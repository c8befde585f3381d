#include "xml/self.h"

#include "base/debug.h"
#include "xml/parser.h"

#include <algorithm>
#include <cstring>

namespace {

const std::string EMPTY;

} // namespace

SelfAttributes::const_iterator SelfAttributes::find(const char* name) const {
    // Names mostly differ in their first letter: strcmp only when it agrees.
    auto before = [](const value_type& item, const char* key) {
        auto a = static_cast<unsigned char>(item.first[0]);
        auto b = static_cast<unsigned char>(key[0]);
        return a != b ? a < b : strcmp(item.first.c_str(), key) < 0;
    };
    auto it = std::lower_bound(items_.begin(), items_.end(), name, before);
    return it != items_.end() && strcmp(it->first.c_str(), name) == 0 ? it : items_.end();
}

const std::string& SelfAttributes::at(const std::string& name) const {
    auto it = find(name);
    return it != end() ? it->second : EMPTY;
}

namespace {

constexpr const char* WHITE_SPACE = " \t\r\n";

// Names are ASCII in every message and answer; other bytes stay as they are.
void lower_into(const XML_Char* text, std::string& out) {
    out.assign(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
}

// Builds the tree straight from the parser's events. The open elements are
// the path from the root; a new child only ever grows the vector of the
// innermost one, so pointers to the open elements stay valid.
//
// The attributes of an element are stored in name order. The elements of a
// list all carry the same attributes, so the order found for one element is
// kept and used again for the next as long as the parser hands over the same
// names: it gives each attribute name as a pointer into its own name pool,
// which stays the same for the whole parse.
struct SelfBuilder {
    Self* root;
    std::vector<Self*> open;
    bool (*take)(const Self&);
    // Depth of the outermost open element that was taken; 0 when none is.
    size_t taken_at = 0;
    bool started = false;
    // The parser's names of the last element, in document order; which of
    // them are kept (the later of two names equal in lower case), in name
    // order; and their lower-case names.
    std::vector<const XML_Char*> layout;
    std::vector<size_t> order;
    std::vector<std::string> names;
    // Room for learning a layout, kept between elements: nested elements of
    // different layouts take turns, and each would otherwise allocate anew.
    std::vector<std::string> lowered;
    std::vector<size_t> sorted;
};

// Finds the order of the element's attributes, unless it is the last one's.
void learn_layout(SelfBuilder& builder, const XML_Char** attributes, size_t count) {
    bool same = builder.layout.size() == count;
    for (size_t i = 0; same && i < count; ++i) {
        same = builder.layout[i] == attributes[2 * i];
    }
    if (same) {
        return;
    }
    builder.layout.clear();
    std::vector<std::string>& lowered = builder.lowered;
    lowered.resize(count);
    for (size_t i = 0; i < count; ++i) {
        builder.layout.push_back(attributes[2 * i]);
        lower_into(attributes[2 * i], lowered[i]);
    }
    std::vector<size_t>& sorted = builder.sorted;
    sorted.resize(count);
    for (size_t i = 0; i < count; ++i) {
        sorted[i] = i;
    }
    // Stable, so of equal names the later one stands last and is kept.
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&lowered](size_t a, size_t b) { return lowered[a] < lowered[b]; });
    builder.order.clear();
    builder.names.clear();
    for (size_t k = 0; k < count; ++k) {
        if (k + 1 < count && lowered[sorted[k + 1]] == lowered[sorted[k]]) {
            continue;
        }
        builder.order.push_back(sorted[k]);
        builder.names.push_back(lowered[sorted[k]]);
    }
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
    lower_into(name, node->name);
    size_t count = 0;
    while (attributes[count * 2] != nullptr) {
        ++count;
    }
    learn_layout(*builder, attributes, count);
    node->attributes.reserve(builder->order.size());
    for (size_t k = 0; k < builder->order.size(); ++k) {
        node->attributes.take(builder->names[k], attributes[2 * builder->order[k] + 1]);
    }
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
    SelfBuilder builder;
    builder.root = &out;
    builder.take = take;
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
