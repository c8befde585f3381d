#include "base/debug.h"
#include "base/rvx.h"
#include "link/rcs_sock.h"
#include "support/temp_root.h"
#include "support/wait.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

class Link : public ::testing::Test {
  protected:
    void SetUp() override {
        received_messages().clear();
        rcssock_set_receiver(record);
        root.write("/tmp/.keep", "");
        std::string path = root.path() + "/tmp/rcs_socket";
        listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        ASSERT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(listen(listener_, 4), 0);
    }
    void TearDown() override {
        rcssock_close();
        if (peer_ >= 0) {
            close(peer_);
        }
        close(listener_);
        rcssock_set_receiver(nullptr);
    }
    static std::vector<std::string>& received_messages() {
        static std::vector<std::string> messages;
        return messages;
    }
    static int record(const char* message) {
        received_messages().push_back(message);
        return 0;
    }
    void open_link() {
        ASSERT_EQ(rcssock_open(), 1);
        peer_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        ASSERT_GE(peer_, 0);
    }
    // What the daemon has sent so far, once `want` bytes are there or the
    // scaled time is up.
    std::string received(size_t want) {
        std::string got;
        char buffer[4096];
        run_until([&] {
            for (ssize_t n; (n = recv(peer_, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) {
                got.append(buffer, static_cast<size_t>(n));
            }
            return got.size() >= want;
        });
        return got;
    }

    TempRoot root;
    int listener_ = -1;
    int peer_ = -1;
};

const std::string REGISTRATION = "<set_rc name=\"ondemand\" />\n<get_network_ifsetting/>\n";

TEST_F(Link, RegistersOnceAndSendsExactlyTheFormattedText) {
    open_link();
    EXPECT_EQ(received(REGISTRATION.size()), REGISTRATION);
    // Already open: nothing is sent again.
    EXPECT_EQ(rcssock_open(), 1);
    rcssock_send("<set_seq time=\"%lld\" />\n", 123456789012LL);
    EXPECT_EQ(received(1), "<set_seq time=\"123456789012\" />\n");

    // A message longer than the frame is never sent cut: nothing goes out.
    EXPECT_EQ(rcssock_send("%s\n", std::string(RCS_FRAME_MAX - 1, 'p').c_str()), 0);
    EXPECT_EQ(received(RCS_FRAME_MAX).size(), RCS_FRAME_MAX);
    debug_set(1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(rcssock_send("<x a=\"%s\"/>\n", std::string(1500, 'p').c_str()), -1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("longer than the frame"),
              std::string::npos);
    debug_set(0);
    EXPECT_EQ(rcssock_send("end\n"), 0);
    EXPECT_EQ(received(4), "end\n");
}

TEST_F(Link, EachReadGoesToTheReceiverAndTheServersCloseEndsTheLink) {
    open_link();
    received(REGISTRATION.size());
    std::string element = "<network_ifsetting proxy=\"p\" proxy_port=\"8080\"/>";
    ASSERT_EQ(write(peer_, element.data(), element.size()), static_cast<ssize_t>(element.size()));
    ASSERT_TRUE(run_until([] { return !received_messages().empty(); }));
    EXPECT_EQ(received_messages(), std::vector<std::string>{element});

    close(peer_);
    peer_ = -1;
    ASSERT_TRUE(run_until([] { return rcssock_is_open() == 0; }));
    // Sends after the close go nowhere and do no harm.
    rcssock_send("<ondemand status=\"off\"/>\n");
    rcssock_close();
    EXPECT_EQ(rvx_Count(), 0);
}

TEST(LinkMissing, NoServerLeavesTheLinkClosed) {
    TempRoot root;
    EXPECT_EQ(rcssock_open(), 0);
    EXPECT_EQ(rcssock_is_open(), 0);
    rcssock_send("<ondemand status=\"on\"/>\n");
}

// How the reads of a stream become elements: each case is the reads as they
// arrive, the elements handed on and the number of drops reported, the flush
// that follows the last read included.
struct FramingCase {
    const char* name;
    std::vector<std::string> reads;
    std::vector<std::string> elements;
    int dropped;
};

class Framing : public ::testing::TestWithParam<FramingCase> {};

TEST_P(Framing, WholeElementsInOrder) {
    const FramingCase& c = GetParam();
    RcsFramer framer;
    std::vector<std::string> elements;
    int dropped = 0;
    RcsFramer::Sink sink{[&](const std::string& e) { elements.push_back(e); }, [&] { ++dropped; }};
    for (const std::string& read : c.reads) {
        framer.feed(read.data(), read.size(), sink);
    }
    framer.flush(sink);
    EXPECT_FALSE(framer.pending());
    EXPECT_EQ(elements, c.elements);
    EXPECT_EQ(dropped, c.dropped);
}

const std::string LONG_VALUE(RCS_FRAME_MAX, 'v');

INSTANTIATE_TEST_SUITE_P(
    Link, Framing,
    ::testing::Values(
        FramingCase{"TwoInOneRead", {"<a x=\"1\"/><b/>\n"}, {"<a x=\"1\"/>", "<b/>"}, 0},
        FramingCase{"ThreeWithLineEnds", {"<a/>\n<b/>\r\n<c/>\n"}, {"<a/>", "<b/>", "<c/>"}, 0},
        FramingCase{"SplitOverReads",
                    {"<set_ondemand cmd=\"se", "tTime\" time=\"1\"/>\n<b"},
                    {"<set_ondemand cmd=\"setTime\" time=\"1\"/>"},
                    1},
        FramingCase{"BrokenTagGivesWayToTheNext", {"<a x=\"1\"<b/><c", "/>"}, {"<b/>", "<c/>"}, 1},
        FramingCase{"UnclosedElementIsFlushed", {"<a><b/>"}, {}, 1},
        FramingCase{"NestedWithTextAndQuotedMarks",
                    {"<a t=\"x>y\" u='/'><b>t</b><c/></a><d/>"},
                    {"<a t=\"x>y\" u='/'><b>t</b><c/></a>", "<d/>"},
                    0},
        FramingCase{"DeclarationAndCommentGoWithTheElement",
                    {"<?xml version=\"1.0\"?>\n<!-- a > b --><a/><![CDATA[", "x]]><b/>"},
                    {"<?xml version=\"1.0\"?>\n<!-- a > b --><a/>", "<![CDATA[x]]><b/>"},
                    0},
        FramingCase{"TextBetweenElementsIsDroppedOnce",
                    {"<a/>junk text", " more<b/>"},
                    {"<a/>", "<b/>"},
                    1},
        FramingCase{"ElementLongerThanTheFrameIsDroppedWhole",
                    {"<a v=\"" + LONG_VALUE.substr(0, 500), LONG_VALUE.substr(500) + "\"/><b/>"},
                    {"<b/>"},
                    1},
        FramingCase{"ElementOfExactlyTheFrame",
                    {"<a v=\"" + LONG_VALUE.substr(0, RCS_FRAME_MAX - 9) + "\"/>"},
                    {"<a v=\"" + LONG_VALUE.substr(0, RCS_FRAME_MAX - 9) + "\"/>"},
                    0}),
    [](const ::testing::TestParamInfo<FramingCase>& param) { return param.param.name; });
