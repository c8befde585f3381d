#include "common/common.h"
#include "common/fs.h"
#include "common/paths.h"
#include "common/str.h"
#include "support/temp_root.h"

#include <climits>
#include <cstdint>
#include <ctime>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

TEST(Str, FormatHasNoLengthLimit) {
    std::string out = "old";
    std::string long_text(5000, 'x');
    EXPECT_EQ(str::format(out, "%s-%llu-%u", long_text.c_str(), 18446744073709551615ULL, 7u),
              long_text + "-18446744073709551615-7");
}

TEST(Str, TrimRemovesOnlyTheEnds) {
    const std::string ws = " \t\v\r\n";
    EXPECT_EQ(str::trim(" \tlogin a b\r\n", ws), "login a b");
    EXPECT_EQ(str::trim("     ", ws), "");
    EXPECT_EQ(str::trim("", ws), "");
}

TEST(Str, ReplaceDoesNotRescanInsertedText) {
    std::string s = "&amp;amp;x&amp;";
    EXPECT_EQ(str::replace(s, "&amp;", "&"), "&amp;x&");
    std::string empty;
    EXPECT_EQ(str::replace(empty, "a", "b"), "");
    std::string unchanged = "abc";
    EXPECT_EQ(str::replace(unchanged, "", "x"), "abc");
}

TEST(Str, SplitDropsEmptyPiecesButKeepsTheLast) {
    auto pieces = [](const std::string& s, const std::string& sep) {
        std::vector<std::string> out;
        str::split(s, out, sep);
        return out;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(pieces("a..b", "."), (V{"a", "b"}));
    EXPECT_EQ(pieces("a.", "."), (V{"a", ""}));
    EXPECT_EQ(pieces("", "."), (V{""}));
    EXPECT_EQ(pieces("abc", "."), (V{"abc"}));
    EXPECT_EQ(pieces(".a", "."), (V{"a"}));

    std::vector<std::string> kept = {"first"};
    str::split("x y", kept, " ");
    EXPECT_EQ(kept, (V{"first", "x", "y"}));
}

TEST(Str, NumbersAreReadOnlyWhenWhole) {
    unsigned long long n = 7;
    for (const char* bad : {"", "abc", "-1", "+1", " 1", "1x", "0x10", "4294967296"}) {
        EXPECT_FALSE(str::parse_number(bad, UINT32_MAX, n)) << bad;
    }
    EXPECT_FALSE(str::parse_number(nullptr, UINT32_MAX, n));
    EXPECT_FALSE(str::parse_number("18446744073709551616", ULLONG_MAX, n));
    EXPECT_EQ(n, 7u);
    EXPECT_TRUE(str::parse_number("4294967295", UINT32_MAX, n));
    EXPECT_EQ(n, 4294967295u);
    EXPECT_TRUE(str::parse_number("18446744073709551615", ULLONG_MAX, n));
    EXPECT_EQ(n, ULLONG_MAX);
    EXPECT_TRUE(str::parse_number("007", 10, n));
    EXPECT_EQ(n, 7u);
}

TEST(Str, TextsAreCutAtACharacterBoundary) {
    const struct {
        const char* text;
        size_t max;
        const char* cut;
    } cases[] = {
        {"short", 8, "short"},
        {"abcdef", 4, "abcd"},
        {"ab\xC3\xA9", 3, "ab"},                      // a two-byte character is not halved
        {"a\xE2\x82\xAC", 3, "a"},                    // nor a three-byte one
        {"\xF0\x9F\x8E\xB9x", 4, "\xF0\x9F\x8E\xB9"}, // a whole four-byte one stays
        {"\x80\x80\x80\x80\x80\x80", 5,
         "\x80\x80\x80\x80\x80"}, // no lead byte: cut where it stands
    };
    for (const auto& c : cases) {
        std::string s = c.text;
        str::cut_utf8(s, c.max);
        EXPECT_EQ(s, c.cut) << c.text;
    }
}

TEST(Str, CaseAndHexHelpers) {
    std::string s = "MiXeD-09";
    str::tolower(s);
    EXPECT_EQ(s, "mixed-09");
    EXPECT_TRUE(str::iequals("SEARCH", "search"));
    EXPECT_FALSE(str::iequals("search", "searc"));
    EXPECT_EQ(xtoc(10), 'A');
    EXPECT_EQ(xtoc(15), 'F');
    EXPECT_EQ(xtoc(0), '0');
}

TEST(Str, XmlAttributeEscapesOnlyWhatWouldBreakOrExtendTheElement) {
    EXPECT_EQ(str::xml_attribute("/usr/local/ondemand/7/Song 1.MID"),
              "/usr/local/ondemand/7/Song 1.MID");
    EXPECT_EQ(str::xml_attribute("a\"/><x y=\"&<z>'"), "a&quot;/&gt;&lt;x y=&quot;&amp;&lt;z&gt;'");
    EXPECT_EQ(str::xml_attribute("two\nlines\r\t\x01.mid"), "two&#10;lines&#13;&#9;&#1;.mid");
}

TEST(Str, SystemTimeIsMicrosecondsSinceTheEpoch) {
    // 64-bit all the way, also where long is 32 bits wide.
    long long before = static_cast<long long>(time(nullptr)) * 1000000LL;
    long long now = get_systime();
    EXPECT_GE(now, before);
    EXPECT_LT(now, before + 2000000LL);
    std::string text = "old";
    std::string copy = get_systime_str(text);
    EXPECT_EQ(copy, text);
    EXPECT_GE(std::stoll(text), now);
}

TEST(Paths, TakenBelowTheRootOnlyWhenSet) {
    unsetenv("ONDEMAND_ROOT");
    EXPECT_EQ(paths::at("/tmp/rcs_socket"), "/tmp/rcs_socket");
    setenv("ONDEMAND_ROOT", "", 1);
    EXPECT_EQ(paths::at("/tmp/rcs_socket"), "/tmp/rcs_socket");
    setenv("ONDEMAND_ROOT", "/srv/root/", 1);
    EXPECT_EQ(paths::at("/tmp/rcs_socket"), "/srv/root/tmp/rcs_socket");
    unsetenv("ONDEMAND_ROOT");
}

class Files : public ::testing::Test {
  protected:
    TempRoot root;
    std::string at(const std::string& p) { return root.path() + p; }
};

TEST_F(Files, MkDirCreatesMissingLevels) {
    EXPECT_EQ(fs::mk_dir(at("/usr/local/ondemand")), 0);
    EXPECT_EQ(fs::mk_dir(at("/usr/local/ondemand/42")), 0);
    EXPECT_TRUE(root.exists("/usr/local/ondemand/42"));
    EXPECT_EQ(fs::mk_dir("relative"), -1);
}

TEST_F(Files, RmDirRemovesWholeTreesAndStrayFiles) {
    EXPECT_EQ(fs::rm_dir(at("/missing")), 0);

    root.write("/usr/local/ondemand/1/song.mid", "x");
    root.write("/usr/local/ondemand/1/deep/er/a", "x");
    root.write("/usr/local/ondemand/2/b", "x");
    symlink("/etc", at("/usr/local/ondemand/link").c_str());
    EXPECT_EQ(fs::rm_dir(at("/usr/local/ondemand")), 0);
    EXPECT_FALSE(root.exists("/usr/local/ondemand"));
    EXPECT_TRUE(fs::is_valid_dir("/etc")); // links are removed, never followed

    // A plain file where the directory should be is removed, not fatal.
    root.write("/usr/local/ondemand", "stray");
    EXPECT_EQ(fs::rm_dir(at("/usr/local/ondemand")), 0);
    EXPECT_FALSE(root.exists("/usr/local/ondemand"));
}

TEST_F(Files, RmDirGoesOnPastADirectoryItCannotOpen) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "every directory opens for root";
    }
    root.write("/dl/1/a", "x");
    root.write("/dl/locked/x", "x");
    root.write("/dl/2/b", "x");
    chmod(at("/dl/locked").c_str(), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(fs::rm_dir(at("/dl")), -1);
    std::string err = testing::internal::GetCapturedStderr();
    chmod(at("/dl/locked").c_str(), 0755);
    EXPECT_NE(err.find(at("/dl/locked") + ": Permission denied\n"), std::string::npos) << err;
    EXPECT_FALSE(root.exists("/dl/1"));
    EXPECT_FALSE(root.exists("/dl/2"));
    EXPECT_TRUE(root.exists("/dl/locked/x"));
}

TEST_F(Files, DirForeachSeesEveryEntry) {
    EXPECT_EQ(fs::dir_foreach(at("/missing"), [](dirent*) { FAIL(); }), -1);
    root.write("/d/a", "");
    root.write("/d/b", "");
    std::set<std::string> names;
    EXPECT_EQ(fs::dir_foreach(at("/d"), [&](dirent* e) { names.insert(e->d_name); }), 0);
    EXPECT_EQ(names, (std::set<std::string>{".", "..", "a", "b"}));
}

TEST_F(Files, AtomicWriteLeavesNoWorkFile) {
    root.write("/www/f.json", "old");
    EXPECT_EQ(fs::write_file_atomic(at("/www/f.json"), "new"), 0);
    EXPECT_EQ(root.read("/www/f.json"), "new");
    EXPECT_FALSE(root.exists("/www/f.json.wk"));
    EXPECT_EQ(fs::write_file_atomic(at("/nodir/f.json"), "x"), -1);
}

// A reader of a fixed path must never wait on what stands there, and reads
// no more than SMALL_FILE_MAX of a file.
TEST_F(Files, SmallFilesAreRegularFilesReadToACap) {
    mkfifo(at("/fifo").c_str(), 0600);
    mkdir(at("/dir").c_str(), 0755);
    symlink("/dev/zero", at("/zero").c_str());
    symlink(at("/fifo").c_str(), at("/to-fifo").c_str());
    for (const char* name : {"/fifo", "/dir", "/zero", "/to-fifo", "/missing"}) {
        std::string out = "kept";
        EXPECT_EQ(fs::read_first_line(at(name), 255, out), -1) << name;
        EXPECT_EQ(fs::read_first_word(at(name), out), -1) << name;
        EXPECT_EQ(out, "kept") << name;
    }

    root.write("/big", "  word " + std::string(3 * fs::SMALL_FILE_MAX, 'x'));
    std::string text;
    EXPECT_EQ(fs::read_small_file(at("/big"), text), 0);
    EXPECT_EQ(text.size(), fs::SMALL_FILE_MAX);
    EXPECT_EQ(fs::read_first_word(at("/big"), text), 0);
    EXPECT_EQ(text, "word");
    root.write("/lines", "first\nsecond");
    EXPECT_EQ(fs::read_first_line(at("/lines"), 255, text), 0);
    EXPECT_EQ(text, "first\n");
    EXPECT_EQ(fs::read_first_line(at("/lines"), 3, text), 0);
    EXPECT_EQ(text, "fir");
}

class Identity : public Files {};

TEST_F(Identity, UserAgentFromModelVersionAndRegion) {
    root.write("/usr/local/etc/vellichord.conf", "ver:3.10.002\n");
    root.write("/usr/local/etc/destination.conf", "  Japan\n");
    set_useragent_model("PNM10");
    EXPECT_EQ(get_useragent(), "PNM10/3.10 (BR; REGION_JAPAN)");

    root.write("/usr/local/etc/destination.conf", "japan");
    root.write("/usr/local/etc/vellichord.conf", "ver:2.0");
    set_useragent_model("PNM20");
    EXPECT_EQ(get_useragent(), "PNM20/2.0 (BR; REGION_WORLDWIDE)");

    // Missing pieces are written as 0, so the agent keeps its form.
    root.write("/usr/local/etc/vellichord.conf", "ver:7");
    EXPECT_EQ(get_useragent(), "PNM20/7.0 (BR; REGION_WORLDWIDE)");
    fs::rm_file(at("/usr/local/etc/vellichord.conf"));
    fs::rm_file(at("/usr/local/etc/destination.conf"));
    EXPECT_EQ(get_useragent(), "PNM20/0.0 (BR; REGION_WORLDWIDE)");
    set_useragent_model("PNM10");
}

TEST_F(Identity, DeviceIdIsTheUpperCaseMd5OfTheHostName) {
    std::string id;
    EXPECT_EQ(get_deviceid(id), -1);
    EXPECT_EQ(id, "");
    root.write("/etc/hostname", "abc\n");
    EXPECT_EQ(get_deviceid(id), 0);
    EXPECT_EQ(id, "900150983CD24FB0D6963F7D28E17F72");
    std::string again;
    get_deviceid(again);
    EXPECT_EQ(again, id);
}

TEST_F(Identity, OndemandFlagLooksAtTheFirstFiveLines) {
    EXPECT_EQ(isOndemandFlag(), 0);
    root.write("/usr/local/olc/user_arth.txt", "emailaddress=a@b\nondemand=true\n");
    EXPECT_EQ(isOndemandFlag(), 1);
    root.write("/usr/local/olc/user_arth.txt", "ondemand:true");
    EXPECT_EQ(isOndemandFlag(), 1);
    root.write("/usr/local/olc/user_arth.txt", "ondemand=TRUE\n");
    EXPECT_EQ(isOndemandFlag(), 0);
    root.write("/usr/local/olc/user_arth.txt", "ondemand==true\n");
    EXPECT_EQ(isOndemandFlag(), 0);
    root.write("/usr/local/olc/user_arth.txt", "a\nb\nc\nd\ne\nondemand=true\n");
    EXPECT_EQ(isOndemandFlag(), 0);
    root.write("/usr/local/olc/user_arth.txt", "ondemand=true\nondemand=false\n");
    EXPECT_EQ(isOndemandFlag(), 0);
}

TEST_F(Identity, RandomIdsAreFreshUuids) {
    std::string a, b;
    get_randomid(a);
    get_randomid(b);
    EXPECT_EQ(a.size(), 36u);
    EXPECT_NE(a, b);
}

TEST_F(Identity, TokensAreReadFromTheirFilesEachTime) {
    EXPECT_EQ(get_token(), "");
    root.write("/usr/local/olc/dummy", "");
    EXPECT_EQ(set_token("abc"), 0);
    EXPECT_EQ(root.read("/usr/local/olc/api_token.txt"), "abc");
    EXPECT_EQ(get_token(), "abc");

    root.write("/usr/local/olc/api_token.txt", " line\r\n");
    EXPECT_EQ(get_token(), "line");
    root.write("/usr/local/olc/api_token.txt", " \t\n");
    EXPECT_EQ(get_token(), "");
    root.write("/usr/local/olc/api_token.txt", std::string(1500, 't'));
    EXPECT_EQ(get_token(), std::string(1023, 't'));
    fs::rm_file(at("/usr/local/olc/api_token.txt"));
    EXPECT_EQ(get_token(), "");

    set_refresh_token("r1");
    EXPECT_EQ(get_refresh_token(), "r1");
    EXPECT_EQ(set_token_expires(5000), 5000);
    EXPECT_EQ(set_token_expires(), 5000);
}

TEST_F(Identity, ATokenFileThatCannotBeWrittenKeepsNoToken) {
    // A token file that cannot be opened for writing gives 0 and no token.
    fs::rm_dir(at("/usr/local/olc"));
    root.write("/usr/local/olc", "not a directory");
    EXPECT_EQ(set_token("lost"), 0);
    EXPECT_EQ(get_token(), "");
}
