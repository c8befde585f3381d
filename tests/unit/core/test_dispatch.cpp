#include "base/debug.h"
#include "common/common.h"
#include "common/fs.h"
#include "core/dispatch.h"
#include "net/curl.h"
#include "service/refreshTimer.h"
#include "service/status.h"
#include "support/temp_root.h"
#include "support/wait.h"
#include "xml/xml.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

class Dispatch : public ::testing::Test {
  protected:
    void SetUp() override {
        xml_init();
        root.write("/usr/local/etc/vellichord.conf", "ver:1.2");
        root.write("/usr/bin/curl", "#!/bin/sh\necho \"$3\" >> \"$ONDEMAND_ROOT/started\"\n");
        chmod((root.path() + "/usr/bin/curl").c_str(), 0755);
        fs::mk_dir(root.path() + "/usr/local/www/ctrl");
    }
    void TearDown() override {
        xml_parse("<set_ondemand status=\"off\"/>");
        run_until([] { return curl_num() == 0; });
    }
    std::string model() { return get_useragent().substr(0, 5); }

    TempRoot root;
};

TEST_F(Dispatch, MalformedMessagesAreDroppedWithOneErrorLine) {
    debug_set(1);
    for (const char* bad : {"hello", "<a/><b/>", "<set_ondemand", ""}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(xml_parse(bad), -1);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "xml_parse: error\n");
    }
    debug_set(0);
    EXPECT_EQ(xml_parse("<unknown cmd=\"login\"/>"), 0);
    EXPECT_EQ(xml_parse("<set_ondemand cmd=\"noSuchCommand\"/>"), 0);
}

TEST_F(Dispatch, ModelsAreMatchedWithoutRegardToCase) {
    xml_parse("<set_ondemand cmd=\"setModel\" model=\"MDLA\"/>");
    EXPECT_EQ(model(), "PNM20");
    xml_parse("<set_ondemand cmd=\"SETMODEL\" model=\"pnc90\"/>");
    EXPECT_EQ(model(), "PNC90");
    xml_parse("<set_ondemand cmd=\"setModel\" model=\"other\"/>");
    xml_parse("<set_ondemand cmd=\"setModel\"/>");
    EXPECT_EQ(model(), "PNC90");
    xml_parse("<set_ondemand cmd=\"setModel\" model=\"normal\"/>");
    EXPECT_EQ(model(), "PNM10");
}

TEST_F(Dispatch, ProxyNeedsHostAndPort) {
    xml_parse("<network_ifsetting proxy=\"10.1.2.3\" proxy_port=\"3128\"/>");
    EXPECT_EQ(get_proxy(), "10.1.2.3:3128");
    xml_parse("<NETWORK_IFSETTING proxy=\"other\"/>");
    EXPECT_EQ(get_proxy(), "10.1.2.3:3128");
    set_proxy("");
}

TEST_F(Dispatch, StatusIsAppliedBeforeTheCommand) {
    root.write("/usr/local/olc/api_token.txt", "tok");
    xml_parse("<set_ondemand status=\"on\" cmd=\"SEARCH\" title=\"x y\"/>");
    EXPECT_EQ(get_status(), 1);
    ASSERT_TRUE(run_until([] { return curl_num() == 0; }));
    EXPECT_EQ(root.read("/started"), "/items?title=x%20y\n");
}

TEST_F(Dispatch, CommandAttributesReachTheHandlerInItsOwnOrder) {
    root.write("/usr/local/olc/api_token.txt", "tok");
    xml_parse("<set_ondemand status=\"on\"/>");
    // Document order differs from the handler's order; names are exact.
    xml_parse("<set_ondemand genre=\"g\" composer=\"c\" artist=\"b\" title=\"a\" "
              "page_size=\"3\" page=\"2\" Title=\"wrong\" cmd=\"search\"/>");
    ASSERT_TRUE(run_until([] { return curl_num() == 0; }));
    EXPECT_EQ(root.read("/started"),
              "/items?page=2&page_size=3&title=a&artist_composer=b&composer=c&genre_id=g\n");
}

TEST_F(Dispatch, StatusWithoutCommandOnlySwitches) {
    xml_parse("<set_ondemand status=\"on\"/>");
    EXPECT_EQ(get_status(), 1);
    xml_parse("<set_ondemand status=\"off\"/>");
    EXPECT_EQ(get_status(), 0);
    EXPECT_EQ(curl_num(), 0);
    EXPECT_EQ(root.read("/started"), "<missing>");
}

TEST_F(Dispatch, IgnoredCommandsAndOptions) {
    xml_parse("<set_ondemand status=\"on\"/>");
    xml_parse("<set_ondemand cmd=\"rmvFromPlaylist\"/>");
    xml_parse("<set_ondemand cmd=\"play\"/>");
    EXPECT_EQ(curl_num(), 0);

    started_refresh_timer();
    xml_parse("<set_ondemand cmd=\"setOption\" gratis=\"false\"/>");
    EXPECT_FALSE(isGratisMember());
    EXPECT_TRUE(is_refresh_timer_armed());
    xml_parse("<set_ondemand cmd=\"setOption\" refreshTimer=\"Stop\" gratis=\"TRUE\"/>");
    EXPECT_TRUE(isGratisMember());
    EXPECT_FALSE(is_refresh_timer_armed());
}

TEST_F(Dispatch, StandbyOnlySwitchesOffWhileOn) {
    xml_parse("<set_ondemand status=\"on\"/>");
    xml_parse("<seq status=\"FFS\"/>");
    EXPECT_EQ(get_seq_status(), SEQ_FFS);
    xml_parse("<rcs status=\"TO_STANDBY\"/>");
    EXPECT_EQ(get_status(), 0);
    xml_parse("<seq status=\"pause\"/>");
    EXPECT_EQ(get_seq_status(), SEQ_FFS); // reports are ignored while off
    xml_parse("<rcs status=\"to_standby\"/>");
    xml_parse("<rcs/>");
    EXPECT_EQ(get_status(), 0);
}
