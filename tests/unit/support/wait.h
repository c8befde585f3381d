// Waiting for an event in the loop, with deadlines scaled by OD_TEST_SCALE
// (set large when the tests run under an emulator).
#pragma once

#include "base/rvx.h"

#include <chrono>
#include <cstdlib>
#include <functional>

inline double test_scale() {
    const char* scale = std::getenv("OD_TEST_SCALE");
    double value = scale != nullptr ? std::atof(scale) : 1.0;
    return value > 0 ? value : 1.0;
}

// Runs the loop until `done` holds or the scaled timeout passes.
inline bool run_until(const std::function<bool()>& done, int timeout_ms = 5000) {
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(static_cast<long long>(timeout_ms * test_scale()));
    while (!done()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            return false;
        }
        rvx_Selects(static_cast<int>(left < 100 ? left : 100));
    }
    return true;
}
