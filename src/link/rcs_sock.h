// The link to the device's control server: one Unix-domain stream socket,
// one XML element per message in each direction.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

// The largest message either side sends: a frame of 1,024 bytes holds 1,023
// characters and a terminating NUL.
constexpr size_t RCS_FRAME_MAX = 1023;

// Takes every element read from the control server, one at a time, as one
// NUL-terminated text; the daemon hands in its dispatcher before opening the
// link.
using RcsReceiver = int (*)(const char* message);
void rcssock_set_receiver(RcsReceiver receiver);

// Connects, registers as "ondemand" and asks for the network settings.
// 1 when a link is open afterwards (also when it already was), else 0.
int rcssock_open();

// Sends one message, formatted printf-style. Every message carries its own
// line end. A message goes whole or not at all:
//   0  handed to the link, or there is no link (nothing is sent then);
//  -1  not sent: longer than RCS_FRAME_MAX characters (a debug line says so),
//      not formattable, or refused by the link (its backlog is full or the
//      peer is gone).
// A caller whose message must arrive (the load of a song) treats -1 as that
// step's failure.
int rcssock_send(const char* format, ...) __attribute__((format(printf, 1, 2)));

void rcssock_close();

// Non-zero while the link is open.
int rcssock_is_open();

// Cuts the byte stream read from the control server into whole top-level
// elements, whatever the reads it came in: several elements in one read are
// handed on one by one, in order, and an element split over reads is kept
// until its end arrives. A declaration, comment or processing instruction
// before an element goes with that element. White space between elements is
// skipped. Dropped with a call of `dropped` (one for all that one read
// drops): an element (with what came before it) longer than RCS_FRAME_MAX,
// once its end has passed; a run of text outside any element; a tag broken
// off by the "<" of the next one; and what flush() finds unfinished.
class RcsFramer {
  public:
    struct Sink {
        std::function<void(const std::string& element)> element;
        std::function<void()> dropped;
    };
    void feed(const char* data, size_t length, const Sink& sink);
    // True while an element is unfinished.
    bool pending() const;
    // Drops an unfinished element: the control server writes each element
    // whole, so one whose end does not follow soon never will, and it must
    // not swallow the elements that come after it.
    void flush(const Sink& sink);
    void reset();

  private:
    enum class State { Between, Junk, TagOpen, Tag, Quote, EndTag, Markup, Text };
    void keep(char c);
    void tag_closed(const Sink& sink);
    void drop(const Sink& sink);

    State state_ = State::Between;
    std::string element_;
    bool too_long_ = false;
    bool dropped_ = false;
    int depth_ = 0;
    char quote_ = '\0';
    char previous_ = '\0';
    // The first characters of a "<!" or "<?" markup, which tell how it ends,
    // and its last two characters.
    std::string markup_head_;
    std::string markup_tail_;
};
