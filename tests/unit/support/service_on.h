// A fixture for the handlers of the service: a stand-in service under a
// fresh root, the published folder, and the service switched on with the
// start-up chain at rest and the lists empty.
#pragma once

#include "common/fs.h"
#include "net/curl.h"
#include "service/status.h"
#include "support/service_hooks.h"
#include "support/stand_in_service.h"
#include "support/temp_root.h"
#include "support/wait.h"
#include "xml/xml.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

class ServiceOn : public ::testing::Test {
  protected:
    void SetUp() override {
        xml_init();
        connect_service_hooks();
        install_stand_in_service(root);
        fs::mk_dir(root.path() + "/usr/local/www/ctrl");
        // Off and on again: the chain rests and every list is empty.
        set_status("off");
        set_status("on");
    }
    void TearDown() override {
        set_status("off");
        setGratis("true");
        run_until([] { return curl_num() == 0; });
    }
    std::vector<std::string> sent(size_t count) { return noted_requests(root, count); }
    // A published file, by the part of its name after "ondemand_".
    std::string file(const char* name) {
        return root.read(std::string("/usr/local/www/ctrl/ondemand_") + name + ".json");
    }
    void remove_file(const char* name) {
        fs::rm_file(root.path() + "/usr/local/www/ctrl/ondemand_" + name + ".json");
    }

    TempRoot root;
};
