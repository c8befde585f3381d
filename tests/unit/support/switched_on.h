// A fixture for command and answer handlers: a stand-in service under a
// fresh root, the published folder, and the service switched on with the
// start-up chain at rest and the lists empty. `Switch` says how the service
// is switched: by the service itself, or by the stand-in of the layers below
// it (support/switch_below.h).
#pragma once

#include "common/fs.h"
#include "net/curl.h"
#include "state/service.h"
#include "support/stand_in_service.h"
#include "support/temp_root.h"
#include "support/wait.h"
#include "xml/xml.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

template <typename Switch> class SwitchedOn : public ::testing::Test {
  protected:
    void SetUp() override {
        xml_init();
        Switch::connect();
        install_stand_in_service(root);
        fs::mk_dir(root.path() + "/usr/local/www/ctrl");
        // Off and on again: the chain rests and every list is empty.
        Switch::off();
        Switch::on();
    }
    void TearDown() override {
        Switch::off();
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
