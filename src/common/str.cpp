#include "common/str.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <sys/time.h>

namespace str {

std::string& format(std::string& out, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    vformat(out, fmt, args);
    va_end(args);
    return out;
}

std::string& vformat(std::string& out, const char* fmt, va_list args) {
    va_list measure;
    va_copy(measure, args);
    int length = vsnprintf(nullptr, 0, fmt, measure);
    va_end(measure);
    if (length < 0) {
        out.clear();
    } else {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        vsnprintf(buffer.data(), buffer.size(), fmt, args);
        out.assign(buffer.data(), static_cast<size_t>(length));
    }
    return out;
}

std::string trim(std::string s, const std::string& chars) {
    size_t first = s.find_first_not_of(chars);
    if (first == std::string::npos) {
        return std::string();
    }
    size_t last = s.find_last_not_of(chars);
    return s.substr(first, last - first + 1);
}

std::string& replace(std::string& s, const std::string& from, const std::string& to) {
    if (s.empty() || from.empty()) {
        return s;
    }
    std::string result;
    size_t pos = 0;
    for (size_t hit = s.find(from); hit != std::string::npos; hit = s.find(from, pos)) {
        result.append(s, pos, hit - pos);
        result += to;
        pos = hit + from.size();
    }
    result.append(s, pos, std::string::npos);
    s.swap(result);
    return s;
}

void tolower(std::string& s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
}

void split(std::string s, std::vector<std::string>& out, const std::string& sep) {
    size_t pos = 0;
    if (!sep.empty()) {
        for (size_t hit = s.find(sep); hit != std::string::npos; hit = s.find(sep, pos)) {
            if (hit != pos) {
                out.push_back(s.substr(pos, hit - pos));
            }
            pos = hit + sep.size();
        }
    }
    out.push_back(s.substr(pos));
}

std::string xml_attribute(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            // A line end or another control byte would end the one-line
            // message or be folded by the reader: a character reference
            // keeps it inside the value.
            if (static_cast<unsigned char>(c) < 0x20) {
                out += "&#" + std::to_string(static_cast<int>(c)) + ";";
            } else {
                out += c;
            }
        }
    }
    return out;
}

bool iequals(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool parse_number(const char* text, unsigned long long max, unsigned long long& out) {
    if (text == nullptr || *text == '\0') {
        return false;
    }
    unsigned long long value = 0;
    for (const char* at = text; *at != '\0'; ++at) {
        if (*at < '0' || *at > '9') {
            return false;
        }
        unsigned digit = static_cast<unsigned>(*at - '0');
        if (value > (max - digit) / 10) {
            return false;
        }
        value = value * 10 + digit;
    }
    out = value;
    return true;
}

void cut_utf8(std::string& s, size_t max) {
    if (s.size() <= max) {
        return;
    }
    size_t end = max;
    // Continuation bytes are 10xxxxxx: back up to the lead byte, at most
    // three bytes, as a character has at most four (past that the text is
    // not UTF-8 and is cut where it stands).
    while (end > 0 && max - end < 3 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) {
        --end;
    }
    if ((static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) {
        end = max;
    }
    s.resize(end);
}

} // namespace str

char xtoc(unsigned char v) {
    return "0123456789ABCDEF"[v & 0x0f];
}

long long get_systime() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<long long>(tv.tv_sec) * 1000000LL + static_cast<long long>(tv.tv_usec);
}

std::string get_systime_str(std::string& out) {
    str::format(out, "%lld", get_systime());
    return out;
}
