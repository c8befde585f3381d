#include "common/common.h"
#include "common/deployment.h"
#include "common/paths.h"
#include "net/curl.h"
#include "net/webapi.h"
#include "support/temp_root.h"
#include "support/wait.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

namespace {

using Args = std::vector<std::string>;

Args args_of(const std::string& url, int method, const Args& data, const std::string& output,
             const Args& headers = {}) {
    WaitingRequest request;
    request.url = url;
    request.method = method;
    request.headers = headers;
    request.data = data;
    request.output = output;
    Args args;
    EXPECT_EQ(curl_build_args(request, args), 0);
    return args;
}

} // namespace

class CurlArgs : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv("ONDEMAND_ROOT");
        set_proxy("");
    }
    void TearDown() override { set_proxy(""); }
};

TEST_F(CurlArgs, GetHasTheFixedOptionsInOrder) {
    EXPECT_EQ(args_of("https://h/items?a=1&amp;b=2", CURL_GET, {}, "", {"Accept: text/xml"}),
              (Args{"/usr/bin/curl",
                    "--request",
                    "GET",
                    "https://h/items?a=1&b=2",
                    "--insecure",
                    "--verbose",
                    "--max-time",
                    "60",
                    "--silent",
                    "--http1.1",
                    "--location",
                    "--cookie",
                    "/usr/local/olc/cookie.txt",
                    "--cookie-jar",
                    "/usr/local/olc/cookie.txt",
                    "--proto",
                    "=https,http",
                    "--proto-redir",
                    "=https,http",
                    "--header",
                    "Accept: text/xml"}));
}

TEST_F(CurlArgs, PostSendsDataFieldsAndLoginHasNoTimeLimit) {
    Args args = args_of("https://h/v1/auth/login", CURL_POST, {"username=a", "password=b"}, "");
    EXPECT_EQ(args[2], "POST");
    EXPECT_EQ(std::count(args.begin(), args.end(), "--max-time"), 0);
    EXPECT_EQ(Args(args.end() - 4, args.end()),
              (Args{"--data-urlencode", "username=a", "--data-urlencode", "password=b"}));
}

TEST_F(CurlArgs, OnlyTheLoginAndRefreshPathsRunWithoutTimeLimit) {
    auto limited = [](const std::string& url) {
        Args args = args_of(url, CURL_GET, {}, "");
        return std::count(args.begin(), args.end(), "--max-time") == 1;
    };
    EXPECT_FALSE(limited("https://h/v1/auth/refresh"));
    EXPECT_FALSE(limited("https://h/v1/auth/login?lang=en"));
    // The words in a query, a host or elsewhere in a path do not count.
    EXPECT_TRUE(limited("https://h/v1/items?title=login"));
    EXPECT_TRUE(limited("https://h/x?next=/auth/refresh"));
    EXPECT_TRUE(limited("https://login.example/v1/items"));
    EXPECT_TRUE(limited("https://h/login/a.zip"));
    EXPECT_TRUE(limited("https://h/v1/auth/login/more"));
}

TEST_F(CurlArgs, CompressedAnswersAreDecodedWhenCurlCanDoIt) {
    curl_set_compressed(true);
    Args args =
        args_of("https://h/items", CURL_GET, {}, "", {"Accept-Encoding: gzip, deflate, br"});
    curl_set_compressed(false);
    EXPECT_EQ(std::count(args.begin(), args.end(), "--compressed"), 1);
    // The request's own header line is sent unchanged.
    EXPECT_EQ(Args(args.end() - 2, args.end()),
              (Args{"--header", "Accept-Encoding: gzip, deflate, br"}));
    Args plain = args_of("https://h/items", CURL_GET, {}, "");
    EXPECT_EQ(std::count(plain.begin(), plain.end(), "--compressed"), 0);
    // A request that does not ask for compression (a download) is left as
    // it was, even where curl could decode.
    curl_set_compressed(true);
    Args download = args_of("https://cdn/x.zip", CURL_GET, {}, "/out", {"X-Other: gzip"});
    curl_set_compressed(false);
    EXPECT_EQ(std::count(download.begin(), download.end(), "--compressed"), 0);
}

TEST_F(CurlArgs, ACaFileChecksTheServicesOwnRequestsOnly) {
    setenv("ONDEMAND_ROOT", "/r", 1);
    curl_set_ca_file("/etc/ssl/service-ca.pem");
    Args own = args_of("https://h/items", CURL_GET, {}, "");
    Args download = args_of("https://cdn/x.mid", CURL_GET, {}, "/usr/local/ondemand/5/midi");
    Args content =
        args_of(std::string("https://") + deployment::CONTENT_HOST + "/a.zip", CURL_GET, {}, "");
    curl_set_ca_file(deployment::CA_FILE);
    unsetenv("ONDEMAND_ROOT");
    EXPECT_EQ(Args(own.begin() + 4, own.begin() + 7),
              (Args{"--cacert", "/r/etc/ssl/service-ca.pem", "--verbose"}));
    EXPECT_EQ(std::count(own.begin(), own.end(), "--insecure"), 0);
    EXPECT_EQ(download[4], "--insecure");
    EXPECT_EQ(content[4], "--insecure");
    EXPECT_EQ(std::count(content.begin(), content.end(), "/r/etc/ssl/service-ca.pem"), 0);
}

TEST_F(CurlArgs, DownloadShowsProgressAndWritesItsFile) {
    Args args = args_of("https://cdn/x.mid", CURL_GET, {}, "/usr/local/ondemand/5/midi");
    EXPECT_EQ(std::count(args.begin(), args.end(), "--silent"), 0);
    // Held to the song budget, 64 MiB unless the deployment says otherwise.
    auto cap = std::find(args.begin(), args.end(), "--max-filesize");
    ASSERT_NE(cap, args.end());
    EXPECT_EQ(cap[1], std::to_string(song_budget_bytes()));
    EXPECT_EQ(std::count(args.begin(), args.end(), "--max-filesize"), 1);
    Args plain = args_of("https://h/items", CURL_GET, {}, "");
    EXPECT_EQ(std::count(plain.begin(), plain.end(), "--max-filesize"), 0);
    EXPECT_EQ(args[8], "-#");
    EXPECT_EQ(Args(args.end() - 2, args.end()), (Args{"--output", "/usr/local/ondemand/5/midi"}));
}

TEST_F(CurlArgs, ContentHostsGetTheClientCertificateAndProxyFollows) {
    set_proxy("10.0.0.1:8080");
    Args args =
        args_of(std::string("https://") + deployment::CONTENT_HOST + "/a.zip", CURL_GET, {}, "");
    auto key = std::find(args.begin(), args.end(), "--key");
    ASSERT_NE(key, args.end());
    EXPECT_EQ(Args(key, key + 8), (Args{"--key", "/tmp/certs/key", "--cacert", "/tmp/certs/ca",
                                        "--cert", "/tmp/certs/cert", "--proxy", "10.0.0.1:8080"}));
    Args plain = args_of("https://other/a.zip", CURL_GET, {}, "");
    EXPECT_EQ(std::count(plain.begin(), plain.end(), "--key"), 0);
}

TEST_F(CurlArgs, EveryElementInItsPlace) {
    set_proxy("proxy:3128");
    WaitingRequest request;
    const std::string host = deployment::DEMO_CONTENT_HOST;
    request.url = "https://" + host + "/login/a.zip?x=1&amp;y=2";
    request.method = CURL_POST;
    request.headers = {"H1: a", "H2: b"};
    request.forms = {"f=1"};
    request.data = {"d=1", "e=2"};
    request.output = "/usr/local/ondemand/9/zip";
    Args args;
    song_budget_set(12345);
    ASSERT_EQ(curl_build_args(request, args), 0);
    song_budget_set(0);
    EXPECT_EQ(args, (Args{"/usr/bin/curl",
                          "--request",
                          "POST",
                          "https://" + host + "/login/a.zip?x=1&y=2",
                          "--insecure",
                          "--verbose",
                          "--max-time",
                          "60",
                          "-#",
                          "--http1.1",
                          "--location",
                          "--cookie",
                          "/usr/local/olc/cookie.txt",
                          "--cookie-jar",
                          "/usr/local/olc/cookie.txt",
                          "--proto",
                          "=https,http",
                          "--proto-redir",
                          "=https,http",
                          "--max-filesize",
                          "12345",
                          "--key",
                          "/tmp/certs/key",
                          "--cacert",
                          "/tmp/certs/ca",
                          "--cert",
                          "/tmp/certs/cert",
                          "--proxy",
                          "proxy:3128",
                          "--header",
                          "H1: a",
                          "--header",
                          "H2: b",
                          "--form",
                          "f=1",
                          "--data-urlencode",
                          "d=1",
                          "--data-urlencode",
                          "e=2",
                          "--output",
                          "/usr/local/ondemand/9/zip"}));
}

TEST_F(CurlArgs, PathsAreTakenBelowTheRoot) {
    setenv("ONDEMAND_ROOT", "/r", 1);
    Args args = args_of("https://h/", CURL_GET, {}, "");
    EXPECT_EQ(args[0], "/r/usr/bin/curl");
    EXPECT_EQ(args[12], "/r/usr/local/olc/cookie.txt");
    unsetenv("ONDEMAND_ROOT");
}

TEST_F(CurlArgs, UnknownMethodAndOptionLikeUrlsAreRefused) {
    WaitingRequest request;
    request.method = 2;
    Args args;
    EXPECT_EQ(curl_build_args(request, args), -1);
    EXPECT_EQ(curl_exec("https://h/", 2, {}, {}, {}, "", nullptr, nullptr), -1);
    EXPECT_EQ(curl_exec("-o/etc/x", CURL_GET, {}, {}, {}, "/o", nullptr, nullptr), -1);
    EXPECT_EQ(curl_num(), 0);
}

struct StderrSeen {
    int timeouts = 0;
    std::vector<int> statuses;
    std::vector<std::string> figures;
};

CurlStderrReader make_reader(StderrSeen& seen) {
    CurlStderrReader::Events events;
    events.timed_out = [&seen] { ++seen.timeouts; };
    events.status = [&seen](int status) { seen.statuses.push_back(status); };
    events.progress = [&seen](const std::string& figure) { seen.figures.push_back(figure); };
    return CurlStderrReader(events);
}

TEST(CurlStderr, LinesSplitAcrossReadsAreSeenOnce) {
    StderrSeen seen;
    CurlStderrReader reader = make_reader(seen);
    for (const char* piece :
         {"* Connected\r\n< HT", "TP/1.1 3", "02 Found\r\n< Location: /a%20b\r",
          "\n< http/1.1 200 OK\r\n", "* Operation timed ", "out after 60000 ms"}) {
        reader.feed(piece, strlen(piece));
    }
    EXPECT_EQ(seen.timeouts, 0);
    reader.finish();
    EXPECT_EQ(seen.statuses, (std::vector<int>{302, 200}));
    EXPECT_EQ(seen.timeouts, 1);
    EXPECT_TRUE(seen.figures.empty()); // verbose lines are not progress
}

TEST(CurlStderr, StatusLinesOfEveryVersionAreRead) {
    StderrSeen seen;
    CurlStderrReader reader = make_reader(seen);
    std::string text = "< HTTP/1.0 403 Forbidden\r\n< HTTP/2 500 \r\n< HTTP/3 204\r\n"
                       "< HTTP/1.1 200 OK\r\n"
                       // Not status lines: no version, or no blank after it.
                       "< HTTP/ 301\r\n< HTTP/1.1x 302\r\n< X-Note: HTTP/1.0 303\r\n";
    reader.feed(text.data(), text.size());
    EXPECT_EQ(seen.statuses, (std::vector<int>{403, 500, 204, 200}));
}

TEST(CurlStderr, ProgressFiguresAreTheFiveCharactersBeforeThePercentSign) {
    StderrSeen seen;
    CurlStderrReader reader = make_reader(seen);
    std::string bar =
        "\r######                  45.3%\r7.5%\r" + std::string(70, '#') + " 100.0%\n";
    reader.feed(bar.data(), bar.size());
    EXPECT_EQ(seen.figures, (std::vector<std::string>{" 45.3", "7.5", "100.0"}));
}

TEST(CurlStderr, AProgressPieceIsReportedWhenItArrivesAndOnlyOnce) {
    StderrSeen seen;
    CurlStderrReader reader = make_reader(seen);
    // The piece is complete when its percent sign has arrived, even though
    // only the next piece ends its line.
    for (const char* piece : {"\r###   12", ".0%", "\r######  ", "25.0%", "* Closing\n"}) {
        reader.feed(piece, strlen(piece));
    }
    EXPECT_EQ(seen.figures, (std::vector<std::string>{" 12.0", " 25.0"}));
    reader.finish();
    EXPECT_EQ(seen.figures.size(), 2u);
}

TEST(CurlUser, SongIdsTravelWholeInTheUserValue) {
    // Ids read from answers are sign-extended 32-bit values.
    for (uint64_t id : {uint64_t{0}, uint64_t{7}, uint64_t{2147483647}, ~uint64_t{0},
                        uint64_t{0xFFFFFFFF80000000}}) {
        EXPECT_EQ(curl_id_of_user(curl_user_of_id(id)), id);
    }
}

TEST(UrlEncode, LettersAndDigitsStayEverythingElseIsEscaped) {
    std::string out = "old";
    EXPECT_EQ(url_encode_utf8("Ab9 &=%\"$`\\\xC3\xA9", out), 0);
    EXPECT_EQ(out, "Ab9%20%26%3D%25%22%24%60%5C%C3%A9");

    std::string long_text(3000, 'x');
    long_text += " y";
    url_encode_utf8(long_text, out);
    EXPECT_EQ(out, std::string(3000, 'x') + "%20y");

    std::string back;
    EXPECT_EQ(downloadDecodeURL("Ab9%20%26%C3%A9%zz%4", back), 0);
    EXPECT_EQ(back, "Ab9 &\xC3\xA9%zz%4");
}

// A stand-in for curl under the test root: it logs the URL it was started
// for, waits a little, and answers like curl's verbose mode.
class CurlQueue : public ::testing::Test {
  protected:
    void SetUp() override {
        root.write("/usr/bin/curl", "#!/bin/sh\n"
                                    "echo \"$3\" >> \"$ONDEMAND_ROOT/started\"\n"
                                    "case \"$3\" in *fail*) exit 7;; esac\n"
                                    "case \"$3\" in *stall*) exec sleep 30;; esac\n"
                                    "case \"$3\" in *slow*) sleep 1;; *) sleep 0.2;; esac\n"
                                    "echo '< HTTP/1.1 201 Created' >&2\n"
                                    "printf 'body of %s' \"$3\"\n");
        chmod((root.path() + "/usr/bin/curl").c_str(), 0755);
    }

    void submit(const std::string& url, const std::string& output = "") {
        int result = curl_exec(
            url, CURL_GET, {}, {}, {}, output,
            [this, url](int status, const std::string& text, void*) {
                answered.push_back(url);
                statuses.push_back(status);
                texts.push_back(text);
                if (on_answer) {
                    auto next = std::move(on_answer);
                    on_answer = nullptr;
                    next(url);
                }
            },
            nullptr);
        EXPECT_EQ(result, 0);
    }

    std::vector<std::string> started() {
        std::vector<std::string> lines;
        std::string text = root.read("/started");
        if (text != "<missing>") {
            str_split(text, lines);
        }
        return lines;
    }

    static void str_split(const std::string& text, std::vector<std::string>& lines) {
        size_t pos = 0;
        for (size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', pos)) {
            lines.push_back(text.substr(pos, nl - pos));
            pos = nl + 1;
        }
    }

    TempRoot root;
    std::vector<std::string> answered;
    std::vector<int> statuses;
    std::vector<std::string> texts;
    std::function<void(const std::string&)> on_answer;
};

TEST_F(CurlQueue, AtMostFiveRunAndTheRestWaitInOrder) {
    for (int i = 1; i <= 7; ++i) {
        submit("u" + std::to_string(i));
    }
    EXPECT_EQ(curl_num(), 7);
    ASSERT_TRUE(run_until([&] { return started().size() >= 5; }));
    EXPECT_EQ(started().size(), 5u);
    ASSERT_TRUE(run_until([&] { return answered.size() == 7; }));
    // Children started together log themselves in any order.
    std::vector<std::string> order = started();
    ASSERT_EQ(order.size(), 7u);
    std::sort(order.begin(), order.begin() + 5);
    std::sort(order.begin() + 5, order.end());
    EXPECT_EQ(order, (std::vector<std::string>{"u1", "u2", "u3", "u4", "u5", "u6", "u7"}));
    EXPECT_EQ(statuses, std::vector<int>(7, 201));
    EXPECT_EQ(texts[0].substr(0, 8), "body of ");
    EXPECT_EQ(curl_num(), 0);
}

TEST_F(CurlQueue, RequestFromACallbackStartsAheadOfTheWaitingOnes) {
    // One quick request among four slow ones ends first, alone.
    submit("quick");
    for (int i = 2; i <= 5; ++i) {
        submit("slow" + std::to_string(i));
    }
    submit("w6");
    submit("w7");
    on_answer = [this](const std::string&) { submit("x"); };
    ASSERT_TRUE(run_until([&] { return answered.size() == 8; }, 10000));
    std::vector<std::string> order = started();
    ASSERT_EQ(order.size(), 8u);
    // w6 was taken from the queue while five ran again, so it went back
    // behind w7.
    EXPECT_EQ(std::vector<std::string>(order.begin() + 5, order.end()),
              (std::vector<std::string>{"x", "w7", "w6"}));
}

TEST_F(CurlQueue, FailuresAndDownloads) {
    submit("fail-now");
    submit("https://cdn/file", "/out/path");
    // A download whose run fails (a transfer cut mid-file) is never reported
    // as -1, which would count as success.
    submit("https://cdn/fail", "/out/partial");
    ASSERT_TRUE(run_until([&] { return answered.size() == 3; }));
    std::map<std::string, std::pair<int, std::string>> by_url;
    for (size_t i = 0; i < answered.size(); ++i) {
        by_url[answered[i]] = {statuses[i], texts[i]};
    }
    EXPECT_EQ(by_url["fail-now"].first, -1);
    EXPECT_EQ(by_url["https://cdn/file"], std::make_pair(201, std::string("/out/path")));
    EXPECT_EQ(by_url["https://cdn/fail"],
              std::make_pair(CURL_DOWNLOAD_FAILED, std::string("/out/partial")));
}

TEST_F(CurlQueue, AChildPastTheRunLimitIsEndedAndItsPlaceGoesOn) {
    // Long enough for the quick stand-in, far below the stalled ones.
    curl_set_run_limit(static_cast<int64_t>(1000 * test_scale()));
    for (int i = 1; i <= 4; ++i) {
        submit("stall" + std::to_string(i));
    }
    submit("https://cdn/stall", "/out/stalled");
    submit("after");
    ASSERT_TRUE(run_until([&] { return answered.size() == 6; }, 20000));
    curl_set_run_limit(CURL_RUN_LIMIT_MS);
    std::map<std::string, std::pair<int, std::string>> by_url;
    for (size_t i = 0; i < answered.size(); ++i) {
        by_url[answered[i]] = {statuses[i], texts[i]};
    }
    // Failed, never -1 with a body that could pass for an answer.
    EXPECT_EQ(by_url["stall1"], std::make_pair(-1, std::string()));
    EXPECT_EQ(by_url["https://cdn/stall"],
              std::make_pair(CURL_DOWNLOAD_FAILED, std::string("/out/stalled")));
    EXPECT_EQ(by_url["after"].first, 201);
    EXPECT_EQ(curl_num(), 0);
}

TEST_F(CurlQueue, WithdrawnRequestsAreEndedAndNeverAnswered) {
    for (int i = 1; i <= 5; ++i) {
        submit("stall" + std::to_string(i), i == 1 ? "/out/song/midi" : "");
    }
    submit("waiting-stall");
    submit("kept");
    ASSERT_TRUE(run_until([&] { return started().size() == 5; }, 10000));
    // The download alone, then everything but "kept".
    EXPECT_EQ(curl_cancel([](const std::string&, const std::string& output) {
                  return output.rfind("/out/song/", 0) == 0;
              }),
              1);
    EXPECT_EQ(curl_num(), 6);
    EXPECT_EQ(curl_cancel([](const std::string& url, const std::string&) { return url != "kept"; }),
              5);
    EXPECT_EQ(curl_num(), 1);
    // Every child ends and is reaped; only "kept" is answered.
    ASSERT_TRUE(run_until([&] { return answered.size() == 1 && rvx_Count() == 0; }, 10000));
    EXPECT_EQ(answered, std::vector<std::string>{"kept"});
    EXPECT_EQ(curl_num(), 0);
}

TEST_F(CurlQueue, AQueuedRequestThatCannotStartIsAnsweredAndTheNextOneStarts) {
    for (int i = 1; i <= 5; ++i) {
        submit("slow" + std::to_string(i));
    }
    std::vector<int> bad_statuses;
    auto bad = [&](int status, const std::string& text, void*) {
        bad_statuses.push_back(status);
        EXPECT_EQ(text, "");
    };
    EXPECT_EQ(curl_exec("bad", 9, {}, {}, {}, "", bad, nullptr), 0);
    EXPECT_EQ(curl_exec("-oops", CURL_GET, {}, {}, {}, "", bad, nullptr), 0);
    submit("after");
    EXPECT_EQ(curl_num(), 8);
    // The first child to end frees a place: both unstartable requests are
    // answered with -1 and "after" takes the place at once.
    ASSERT_TRUE(run_until([&] { return started().size() == 6; }, 10000));
    EXPECT_EQ(bad_statuses, (std::vector<int>{-1, -1}));
    EXPECT_EQ(started().back(), "after");
    ASSERT_TRUE(run_until([&] { return answered.size() == 6; }, 10000));
    EXPECT_EQ(answered.back(), "after");
    EXPECT_EQ(curl_num(), 0);
}

TEST_F(CurlQueue, NothingIsLeftWaitingWhenTheProgramVanishes) {
    for (int i = 1; i <= 7; ++i) {
        submit("u" + std::to_string(i));
    }
    ASSERT_TRUE(run_until([&] { return started().size() == 5; }));
    fs::rm_file(root.path() + "/usr/bin/curl");
    // Every request is answered, the two that could not start with -1.
    ASSERT_TRUE(run_until([&] { return answered.size() == 7; }));
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), -1), 2);
    EXPECT_EQ(curl_num(), 0);
}

TEST_F(CurlQueue, TheSameRequestWaitsOnceAndTheQueueIsBounded) {
    for (int i = 1; i <= CURL_MAX_RUNNING; ++i) {
        submit("slow" + std::to_string(i));
    }
    // Waiting: the same address and the same file run once each, and each
    // caller gets the answer; a POST, and a download of the same address into
    // another file, are other requests.
    submit("https://h/address?id=7");
    submit("https://h/address?id=7");
    submit("https://cdn/7", "/dl/7/zip");
    submit("https://cdn/7", "/dl/7/zip");
    submit("https://cdn/7", "/dl/7/image");
    EXPECT_EQ(curl_exec("https://h/stop", CURL_POST, {}, {}, {"s=1"}, "", nullptr, nullptr), 0);
    EXPECT_EQ(curl_exec("https://h/stop", CURL_POST, {}, {}, {"s=1"}, "", nullptr, nullptr), 0);
    EXPECT_EQ(curl_num(), CURL_MAX_RUNNING + 5);
    ASSERT_TRUE(run_until([&] { return curl_num() == 0; }, 20000));
    EXPECT_EQ(answered.size(), static_cast<size_t>(CURL_MAX_RUNNING + 5));
    EXPECT_EQ(std::count(answered.begin(), answered.end(), "https://h/address?id=7"), 2);
    EXPECT_EQ(started().size(), static_cast<size_t>(CURL_MAX_RUNNING + 5));

    for (int i = 1; i <= CURL_MAX_RUNNING; ++i) {
        submit("stall" + std::to_string(i));
    }
    for (size_t i = 0; i < CURL_MAX_WAITING; ++i) {
        ASSERT_EQ(curl_exec("w" + std::to_string(i), CURL_GET, {}, {}, {}, "", nullptr, nullptr),
                  0);
    }
    EXPECT_EQ(curl_exec("one-more", CURL_GET, {}, {}, {}, "", nullptr, nullptr), -1);
    EXPECT_EQ(curl_num(), static_cast<int>(CURL_MAX_RUNNING + CURL_MAX_WAITING));
    rvx_End_Children(0);
}

TEST_F(CurlQueue, AMissingProgramFailsTheSubmission) {
    fs::rm_file(root.path() + "/usr/bin/curl");
    bool called = false;
    EXPECT_EQ(curl_exec(
                  "u", CURL_GET, {}, {}, {}, "",
                  [&](int, const std::string&, void*) { called = true; }, nullptr),
              -1);
    EXPECT_EQ(curl_num(), 0);
    rvx_Selects(50);
    EXPECT_FALSE(called);
}

TEST_F(CurlQueue, ATransportTakesTheRequestInsteadOfAChild) {
    static std::vector<Args> handed;
    handed.clear();
    root.write(paths::TOKEN_FILE, "tok");
    curl_set_transport([](const WaitingRequest&, const Args& args) { handed.push_back(args); });
    bool called = false;
    auto note = [&](int, const std::string&, void*) { called = true; };
    // More than the places for children: none is held, nothing waits.
    for (int i = 0; i <= CURL_MAX_RUNNING; ++i) {
        EXPECT_EQ(curl_exec("u", CURL_GET, {CURL_ACCESS_TOKEN_HEADER}, {}, {}, "", note, nullptr),
                  0);
    }
    EXPECT_EQ(curl_exec("-u", CURL_GET, {}, {}, {}, "", note, nullptr), -1);
    EXPECT_EQ(curl_num(), 0);
    rvx_Selects(50);
    curl_set_transport(nullptr);
    EXPECT_FALSE(called);
    EXPECT_EQ(handed, std::vector<Args>(CURL_MAX_RUNNING + 1,
                                        args_of("u", CURL_GET, {}, "", {"token: tok"})));
    EXPECT_EQ(root.read("/started"), "<missing>");
    // Without it, children again.
    submit("after");
    ASSERT_TRUE(run_until([&] { return answered.size() == 1; }));
    EXPECT_EQ(started(), std::vector<std::string>{"after"});
}

// The service operations, seen as the argument vectors the stand-in curl
// receives.
class Operations : public ::testing::Test {
  protected:
    void SetUp() override {
        root.write("/usr/bin/curl",
                   "#!/bin/sh\n"
                   "for a in \"$@\"; do echo \"$a\"; done >> \"$ONDEMAND_ROOT/args\"\n"
                   "echo --- >> \"$ONDEMAND_ROOT/args\"\n");
        chmod((root.path() + "/usr/bin/curl").c_str(), 0755);
        root.write("/usr/local/olc/ondemand_base_url", "https://svc/v1");
        root.write("/etc/hostname", "abc\n");
    }

    // The arguments (after the program) of the one request the call sent;
    // empty when it sent none.
    std::vector<std::string> sent(const std::function<int()>& call) {
        fs::rm_file(root.path() + "/args");
        if (call() != 0) {
            return {};
        }
        EXPECT_TRUE(run_until([] { return curl_num() == 0; }));
        std::vector<std::string> lines;
        std::string text = root.read("/args");
        size_t pos = 0;
        for (size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', pos)) {
            lines.push_back(text.substr(pos, nl - pos));
            pos = nl + 1;
        }
        return lines;
    }

    static std::vector<std::string> after(const std::vector<std::string>& args,
                                          const std::string& option) {
        std::vector<std::string> values;
        for (size_t i = 0; i + 1 < args.size(); ++i) {
            if (args[i] == option) {
                values.push_back(args[i + 1]);
            }
        }
        return values;
    }

    TempRoot root;
};

TEST_F(Operations, LoginNeededOnlyWhereTheServiceAsksForIt) {
    EXPECT_TRUE(sent([] {
                    return webapi_ondemand_items("", "", "t", "", "", "", nullptr, nullptr);
                }).empty());
    EXPECT_TRUE(sent([] { return webapi_ondemand_all_playlists(nullptr, nullptr); }).empty());
    std::vector<std::string> genres = sent([] { return webapi_ondemand_genres(nullptr, nullptr); });
    ASSERT_FALSE(genres.empty());
    EXPECT_EQ(genres[2], "https://svc/v1/items/genres");
    EXPECT_EQ(after(genres, "--header"),
              (std::vector<std::string>{"X-Vqat-Did: 900150983CD24FB0D6963F7D28E17F72",
                                        "Content-Type: application/x-www-form-urlencoded",
                                        "Accept-Encoding: gzip, deflate, br",
                                        "Connection: keep-alive", "Accept: text/xml",
                                        "user-agent: PNM10/0.0 (BR; REGION_WORLDWIDE)"}));
    // An edit, like create and delete, needs the login.
    EXPECT_TRUE(sent([] {
                    return webapi_ondemand_update_playlist(7, "", "", "2", nullptr, nullptr);
                }).empty());
    set_token("tok");
    std::vector<std::string> update =
        sent([] { return webapi_ondemand_update_playlist(7, "", "", "2", nullptr, nullptr); });
    EXPECT_EQ(update[2], "https://svc/v1/user/playlists/7");
    EXPECT_EQ(after(update, "--data-urlencode"), (std::vector<std::string>{"sort=2"}));
}

TEST_F(Operations, QueriesAndDataFields) {
    set_token("tok");
    std::vector<std::string> search =
        sent([] { return webapi_ondemand_items("1", "20", "a b", "", "", "9", nullptr, nullptr); });
    EXPECT_EQ(search[2], "https://svc/v1/items?page=1&page_size=20&title=a%20b&genre_id=9");
    EXPECT_EQ(after(search, "--header").back(), "token: tok");
    EXPECT_EQ(
        sent([] { return webapi_ondemand_items("", "", "", "", "", "", nullptr, nullptr); })[2],
        "https://svc/v1/items");

    std::vector<std::string> create =
        sent([] { return webapi_ondemand_create_playlist("50(%) off", "", nullptr, nullptr); });
    EXPECT_EQ(create[2], "https://svc/v1/user/playlists/");
    EXPECT_EQ(after(create, "--data-urlencode"), (std::vector<std::string>{"name=50% off"}));

    std::vector<std::string> play = sent([] {
        return webapi_ondemand_items_play(5000000000ULL, "sid", "UP", 12, nullptr, nullptr);
    });
    EXPECT_EQ(play[2], "https://svc/v1/user/history/event/play/5000000000/");
    EXPECT_EQ(
        after(play, "--data-urlencode"),
        (std::vector<std::string>{"pinfo=UP", "playlist_id=12", "session_id=sid", "playtime=0"}));
    EXPECT_EQ(after(sent([] {
                        return webapi_ondemand_items_play(1, "sid", "qsearch", 12, nullptr,
                                                          nullptr);
                    }),
                    "--data-urlencode"),
              (std::vector<std::string>{"pinfo=qsearch", "session_id=sid", "playtime=0"}));

    std::vector<std::string> stop =
        sent([] { return webapi_ondemand_items_stop(3, "sid", 42, nullptr, nullptr); });
    EXPECT_EQ(after(stop, "--data-urlencode"),
              (std::vector<std::string>{"session_id=sid", "playtime=42"}));

    std::vector<std::string> download = sent([] {
        return webapi_ondemand_items_download("https://cdn/x.zip", "zip", 4, "/tmp/o", nullptr,
                                              nullptr);
    });
    EXPECT_TRUE(after(download, "--header").empty());
    EXPECT_EQ(download[download.size() - 2], "/tmp/o");
}

TEST_F(Operations, TheTokenHeaderEndsAtTheTokensFirstLineEnd) {
    set_token("tok\r\nX-Injected: 1\n");
    std::vector<std::string> play =
        sent([] { return webapi_ondemand_items_stop(3, "sid", 1, nullptr, nullptr); });
    EXPECT_EQ(after(play, "--header").back(), "token: tok");
    EXPECT_EQ(after(play, "--header").size(), 7u);

    // Only a line end is no token: nothing that needs a login is sent.
    set_token("\n");
    EXPECT_TRUE(sent([] { return webapi_ondemand_all_playlists(nullptr, nullptr); }).empty());
    std::vector<std::string> genres = sent([] { return webapi_ondemand_genres(nullptr, nullptr); });
    EXPECT_EQ(after(genres, "--header").size(), 6u);
}

TEST_F(Operations, RefreshCarriesTheRefreshToken) {
    set_token("tok");
    set_refresh_token("ref");
    std::vector<std::string> refresh =
        sent([] { return webapi_account_refresh(nullptr, nullptr); });
    EXPECT_EQ(refresh[1], "POST");
    EXPECT_EQ(after(refresh, "--header").back(), "token: ref");
    EXPECT_TRUE(after(refresh, "--max-time").empty());
}
