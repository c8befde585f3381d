#include "link/rcs_sock.h"

#include "base/debug.h"
#include "base/log.h"
#include "base/rvx.h"
#include "common/paths.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

rvx_st_io* rvx_ = nullptr;
RcsReceiver receiver_ = nullptr;
RcsFramer framer_;
// Fires when an element has stayed unfinished for UNFINISHED_MS.
rvx_st_io* unfinished_timer_ = nullptr;

// The rest of an element written at once follows within moments; this is
// far more, even on a busy controller.
constexpr int64_t UNFINISHED_MS = 2000;

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool starts_with(const std::string& text, const char* head) {
    return text.compare(0, strlen(head), head) == 0;
}

RcsFramer::Sink sink() {
    RcsFramer::Sink sink;
    sink.element = [](const std::string& element) {
        if (receiver_ != nullptr) {
            receiver_(element.c_str());
        }
    };
    // The line the dispatcher prints for text that does not parse.
    sink.dropped = [] { debug_printf("xml_parse: error\n"); };
    return sink;
}

// The stream socket joins and splits the control server's writes as it
// pleases, so each read goes through the framer: every whole element reaches
// the receiver on its own.
int read_event(rvx_st_io* io) {
    char buffer[RVX_READ_MAX + 1];
    int count = rvx_ReadData(io, buffer);
    if (count <= 0) {
        return 0;
    }
    framer_.feed(buffer, static_cast<size_t>(count), sink());
    if (framer_.pending()) {
        rvx_Timer_Start(unfinished_timer_, UNFINISHED_MS);
    } else {
        rvx_Timer_Stop(unfinished_timer_);
    }
    return 0;
}

int unfinished_event(rvx_st_io* timer) {
    rvx_Timer_Stop(timer);
    framer_.flush(sink());
    return 0;
}

void release_timer() {
    rvx_Release_Rvx(unfinished_timer_);
    unfinished_timer_ = nullptr;
}

int close_event(rvx_st_io* io) {
    rvx_Release_Rvx(io);
    if (io == rvx_) {
        log_warning("the control server closed the link: running on without it");
        rvx_ = nullptr;
        release_timer();
        // What the server left unfinished will never end.
        framer_.flush(sink());
    }
    return 0;
}

} // namespace

void RcsFramer::reset() {
    *this = RcsFramer();
}

bool RcsFramer::pending() const {
    return (state_ != State::Between && state_ != State::Junk) || !element_.empty();
}

// Everything kept so far goes; one line for all a read drops.
void RcsFramer::drop(const Sink& sink) {
    if (!dropped_) {
        sink.dropped();
        dropped_ = true;
    }
    element_.clear();
    too_long_ = false;
    depth_ = 0;
}

void RcsFramer::flush(const Sink& sink) {
    if (pending()) {
        dropped_ = false;
        drop(sink);
    }
    state_ = State::Between;
}

void RcsFramer::keep(char c) {
    if (too_long_) {
        return;
    }
    element_ += c;
    if (element_.size() > RCS_FRAME_MAX) {
        too_long_ = true;
        std::string().swap(element_);
    }
}

// A tag, markup or end tag has just closed: at the top level the element is
// whole.
void RcsFramer::tag_closed(const Sink& sink) {
    if (depth_ > 0) {
        state_ = State::Text;
        return;
    }
    state_ = State::Between;
    if (too_long_) {
        drop(sink);
        return;
    }
    sink.element(element_);
    element_.clear();
}

void RcsFramer::feed(const char* data, size_t length, const Sink& sink) {
    dropped_ = false;
    for (size_t i = 0; i < length; ++i) {
        char c = data[i];
        // A "<" inside a tag starts the next one: the tag before it was
        // broken off.
        if (c == '<' &&
            (state_ == State::TagOpen || state_ == State::Tag || state_ == State::EndTag)) {
            drop(sink);
            state_ = State::Between;
        }
        switch (state_) {
        case State::Between:
            if (c == '<') {
                keep(c);
                state_ = State::TagOpen;
            } else if (!is_space(c)) {
                // Text outside any element, and whatever came before it.
                drop(sink);
                state_ = State::Junk;
            } else if (!element_.empty()) {
                keep(c);
            }
            break;
        case State::Junk:
            if (c == '<') {
                keep(c);
                state_ = State::TagOpen;
            }
            break;
        case State::Text:
            keep(c);
            if (c == '<') {
                state_ = State::TagOpen;
            }
            break;
        case State::TagOpen:
            keep(c);
            if (c == '/') {
                state_ = State::EndTag;
            } else if (c == '!' || c == '?') {
                markup_head_ = std::string("<") + c;
                markup_tail_.clear();
                state_ = State::Markup;
            } else {
                previous_ = c;
                state_ = State::Tag;
            }
            break;
        case State::Tag:
            keep(c);
            if (c == '"' || c == '\'') {
                quote_ = c;
                state_ = State::Quote;
            } else if (c == '>') {
                if (previous_ != '/') {
                    ++depth_;
                }
                tag_closed(sink);
            }
            previous_ = c;
            break;
        case State::Quote:
            keep(c);
            if (c == quote_) {
                state_ = State::Tag;
                previous_ = c;
            }
            break;
        case State::EndTag:
            keep(c);
            if (c == '>') {
                if (depth_ > 0) {
                    --depth_;
                }
                tag_closed(sink);
            }
            break;
        case State::Markup: {
            keep(c);
            if (markup_head_.size() < 9) {
                markup_head_ += c;
            }
            bool ends = false;
            if (c == '>') {
                if (starts_with(markup_head_, "<?")) {
                    ends = markup_tail_.size() == 2 && markup_tail_[1] == '?';
                } else if (starts_with(markup_head_, "<!--")) {
                    ends = markup_head_.size() >= 7 && markup_tail_ == "--";
                } else if (starts_with(markup_head_, "<![CDATA[")) {
                    ends = markup_head_.size() >= 9 && markup_tail_ == "]]";
                } else {
                    ends = !starts_with("<!--", markup_head_.c_str()) &&
                           !starts_with("<![CDATA[", markup_head_.c_str());
                }
            }
            markup_tail_ += c;
            if (markup_tail_.size() > 2) {
                markup_tail_.erase(0, markup_tail_.size() - 2);
            }
            if (ends) {
                if (depth_ > 0) {
                    state_ = State::Text;
                } else {
                    // What precedes the element stays with it.
                    state_ = State::Between;
                }
            }
            break;
        }
        }
    }
}

void rcssock_set_receiver(RcsReceiver receiver) {
    receiver_ = receiver;
}

int rcssock_open() {
    if (rvx_ != nullptr) {
        return 1;
    }
    std::string socket = paths::at(paths::RCS_SOCKET);
    rvx_ = rvx_UnixClient(socket.c_str());
    if (rvx_ == nullptr) {
        log_warning("no control server at %s: running without it", socket.c_str());
        return 0;
    }
    framer_.reset();
    unfinished_timer_ = rvx_Timer(0);
    rvx_Timer_Set_ReadEvent(unfinished_timer_, unfinished_event);
    rvx_Set_Type(rvx_, -1);
    rvx_Set_ReadEvent(rvx_, read_event);
    rvx_Set_CloseEvent(rvx_, close_event);
    rcssock_send("<set_rc name=\"ondemand\" />\n");
    rcssock_send("<get_network_ifsetting/>\n");
    log_info("registered with the control server at %s", socket.c_str());
    return 1;
}

int rcssock_send(const char* format, ...) {
    if (rvx_ == nullptr) {
        return 0;
    }
    char buffer[RCS_FRAME_MAX + 1];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length < 0) {
        return -1;
    }
    // A cut message would run into the next one at the control server.
    if (static_cast<size_t>(length) > RCS_FRAME_MAX) {
        debug_printf("rcs_sock: a message of %d characters is longer than the frame, not sent\n",
                     length);
        return -1;
    }
    if (length == 0) {
        return 0;
    }
    return rvx_WriteData(rvx_, buffer, static_cast<size_t>(length)) < 0 ? -1 : 0;
}

void rcssock_close() {
    if (rvx_ != nullptr) {
        rvx_Release_Rvx(rvx_);
        rvx_ = nullptr;
        release_timer();
    }
}

int rcssock_is_open() {
    return rvx_ != nullptr ? 1 : 0;
}
