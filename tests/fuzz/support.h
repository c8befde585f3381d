// What the fuzz targets share: a device root of their own and a way to read
// the input as text. Every target defines LLVMFuzzerTestOneInput; libFuzzer
// or replay_main.cpp calls it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Called at the start of every input. Once per process: a fresh device root
// below $TMPDIR (or /tmp) named in ONDEMAND_ROOT, with the folders the daemon
// writes into, removed at exit; the XML reader and the daemon's hooks ready,
// the debug log off.
//
// The replay programs keep the daemon's own transport and files: no curl is
// found below the root, so a request a handler starts fails at once, and the
// JSON files are written below the root. The libFuzzer programs, through
// LLVMFuzzerInitialize, which only libFuzzer calls, record the requests
// instead of starting children and render the JSON files without writing
// them: a child or a file per input would cost a hundred times the handler.
void fuzz_setup();

// Called at the end of every input that runs handlers: the JSON files they
// marked are rendered, each once, as the daemon's loop does after a pass
// (the replay programs write every file when it is made, marking none); the
// requests recorded are forgotten and every answer still awaited is
// withdrawn, as by switching off and on.
void fuzz_done();

// The root made by fuzz_setup().
const std::string& fuzz_root();

inline std::string fuzz_text(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
