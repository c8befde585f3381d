#include "xml/xml.h"

#include "base/debug.h"
#include "xml/parser.h"

#include <cstdint>
#include <cstring>
#include <sys/random.h>

namespace {

XML_Parser parser_ = nullptr;
// The salt of the parser's name hashes, drawn once: left unset, the parser
// draws a new one from the kernel at every parse, a system call per answer.
// 0 when none could be drawn; the parser then draws its own as before.
unsigned long hash_salt_ = 0;

void XMLCALL refuse_doctype(void*, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    xml_stop();
}

struct Builder {
    std::unique_ptr<xml_element> root;
    std::vector<xml_element*> open;
    std::vector<std::string> text;
    bool failed = false;
};

constexpr const char* WHITE_SPACE = " \t\r\n";

void XMLCALL on_start(void* data, const XML_Char* name, const XML_Char** attributes) {
    auto* builder = static_cast<Builder*>(data);
    if (builder->failed || builder->open.size() >= XML_MAX_DEPTH) {
        builder->failed = true;
        xml_stop();
        return;
    }
    auto element = std::make_unique<xml_element>();
    element->name = name;
    for (const XML_Char** a = attributes; a[0] != nullptr; a += 2) {
        element->attributes.emplace_back(a[0], a[1]);
    }
    xml_element* raw = element.get();
    if (builder->open.empty()) {
        builder->root = std::move(element);
    } else {
        builder->open.back()->children.push_back(std::move(element));
    }
    builder->open.push_back(raw);
    builder->text.emplace_back();
}

void XMLCALL on_end(void* data, const XML_Char*) {
    auto* builder = static_cast<Builder*>(data);
    if (builder->failed || builder->open.empty()) {
        return;
    }
    std::string& text = builder->text.back();
    size_t first = text.find_first_not_of(WHITE_SPACE);
    if (first != std::string::npos) {
        size_t last = text.find_last_not_of(WHITE_SPACE);
        builder->open.back()->contents = text.substr(first, last - first + 1);
    }
    builder->text.pop_back();
    builder->open.pop_back();
}

void XMLCALL on_text(void* data, const XML_Char* text, int length) {
    auto* builder = static_cast<Builder*>(data);
    if (!builder->failed && !builder->text.empty()) {
        builder->text.back().append(text, static_cast<size_t>(length));
    }
}

} // namespace

bool xml_run(const char* text, size_t length, bool unescape_slashes, void* user,
             const XmlHandlers& handlers) {
    if (parser_ == nullptr || text == nullptr || length > static_cast<size_t>(INT32_MAX) ||
        XML_ParserReset(parser_, nullptr) != XML_TRUE) {
        return false;
    }
    if (hash_salt_ != 0) {
        XML_SetHashSalt(parser_, hash_salt_);
    }
    XML_SetUserData(parser_, user);
    XML_SetElementHandler(parser_, handlers.start, handlers.end);
    XML_SetCharacterDataHandler(parser_, handlers.text);
    XML_SetStartDoctypeDeclHandler(parser_, refuse_doctype);

    // Fed in pieces of at most XML_PIECE bytes, as the parser copies what it
    // is given into a buffer of its own, which it keeps for the next parse.
    const char* piece = text;
    const char* end = text + length;
    const char* escape = nullptr;
    for (;;) {
        if (unescape_slashes && (escape == nullptr || escape < piece) && piece != end) {
            escape =
                static_cast<const char*>(memmem(piece, static_cast<size_t>(end - piece), "\\/", 2));
            if (escape == nullptr) {
                unescape_slashes = false;
            }
        }
        const char* stop = escape != nullptr && escape >= piece ? escape : end;
        if (static_cast<size_t>(stop - piece) > XML_PIECE) {
            stop = piece + XML_PIECE;
        }
        bool last = stop == end;
        if (XML_Parse(parser_, piece, static_cast<int>(stop - piece),
                      last ? XML_TRUE : XML_FALSE) != XML_STATUS_OK) {
            return false;
        }
        if (last) {
            return true;
        }
        // At an escape the backslash is dropped; the slash begins the next
        // piece.
        piece = stop == escape ? escape + 1 : stop;
    }
}

void xml_stop() {
    XML_StopParser(parser_, XML_FALSE);
}

int xml_init() {
    if (parser_ == nullptr) {
        parser_ = XML_ParserCreate(nullptr);
        unsigned long salt = 0;
        if (getrandom(&salt, sizeof salt, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof salt)) {
            hash_salt_ = salt;
        }
    }
    return parser_ != nullptr ? 0 : -1;
}

int xml_term() {
    if (parser_ != nullptr) {
        XML_ParserFree(parser_);
        parser_ = nullptr;
    }
    return 0;
}

const char* xml_attr(const xml_element* element, const char* name) {
    if (element == nullptr || name == nullptr) {
        return nullptr;
    }
    for (const auto& attribute : element->attributes) {
        if (attribute.first == name) {
            return attribute.second.c_str();
        }
    }
    return nullptr;
}

int xml_parse(const char* text, const XmlCallback& callback) {
    Builder builder;
    bool parsed = text != nullptr &&
                  xml_run(text, strlen(text), false, &builder, {on_start, on_end, on_text});
    if (!parsed || builder.failed || builder.root == nullptr) {
        debug_printf("xml_parse: error\n");
        return -1;
    }
    int result = callback ? callback(text, builder.root.get()) : 0;
    if (result != 0) {
        debug_printf("xml_parse: error\n");
    }
    return result;
}
