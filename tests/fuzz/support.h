// What the fuzz targets share: a device root of their own and a way to read
// the input as text. Every target defines LLVMFuzzerTestOneInput; libFuzzer
// or replay_main.cpp calls it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Once per process: a fresh device root below $TMPDIR (or /tmp) named in
// ONDEMAND_ROOT, with the folders the daemon writes into, removed at exit;
// the XML reader and the daemon's hooks ready, the debug log off. No curl is
// found below the root, so a request a handler starts fails at once.
void fuzz_setup();

// The root made by fuzz_setup().
const std::string& fuzz_root();

inline std::string fuzz_text(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
