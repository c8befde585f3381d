// The cost of a search answer: a raw Expat parse that builds nothing, and the
// daemon's whole handling of the same bytes (parse, tree, song list, song
// file written through its work file, dialog and status files), at several
// answer sizes. Both run in one process on one buffer, interleaved, so their
// ratio holds however busy the machine is.
#include "catalogue/search.h"
#include "common/fs.h"
#include "xml/xml.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <expat.h>
#include <map>
#include <string>

namespace {

// A search answer of `count` items as the service writes them: every
// attribute the song list reads, and now and then a slash, which the service
// escapes as backslash-slash.
const std::string& search_answer(int count) {
    static std::map<int, std::string> answers;
    std::string& text = answers[count];
    if (text.empty()) {
        text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<response><items>";
        char item[512];
        for (int n = 1; n <= count; ++n) {
            snprintf(item, sizeof item,
                     "<item id=\"%d\" display_order=\"%d\" title=\"Song %d%s\" "
                     "artist=\"Artist\" composer=\"Composer\" performer=\"Performer\" "
                     "length=\"180\" genre=\"Jazz\" rollform_type=\"standard\" "
                     "ondemand_play=\"true\"/>",
                     n, n, n, n % 100 == 0 ? " A\\/B" : "");
            text += item;
        }
        text += "</items></response>\n";
    }
    return text;
}

void raw_parse(benchmark::State& state) {
    const std::string& answer = search_answer(static_cast<int>(state.range(0)));
    XML_Parser parser = XML_ParserCreate(nullptr);
    for (auto _ : state) {
        XML_ParserReset(parser, nullptr);
        bool ok = XML_Parse(parser, answer.data(), static_cast<int>(answer.size()), XML_TRUE) ==
                  XML_STATUS_OK;
        benchmark::DoNotOptimize(ok);
    }
    XML_ParserFree(parser);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * answer.size()));
}

void search_pipeline(benchmark::State& state) {
    const std::string& answer = search_answer(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        callback_search(200, answer, nullptr);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * answer.size()));
}

const std::vector<int64_t> SIZES = {100, 1000, 10000, 50000};

} // namespace

BENCHMARK(raw_parse)->ArgsProduct({SIZES});
BENCHMARK(search_pipeline)->ArgsProduct({SIZES});

int main(int argc, char** argv) {
    // The published files go below a scratch root, as on a device.
    char pattern[] = "/dev/shm/od-bench-XXXXXX";
    const char* root = mkdtemp(pattern);
    if (root == nullptr) {
        perror("od_bench_pipeline: mkdtemp");
        return 1;
    }
    setenv("ONDEMAND_ROOT", root, 1);
    fs::mk_dir(std::string(root) + "/usr/local/www/ctrl");
    xml_init();

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::rm_dir(root);
    return 0;
}
