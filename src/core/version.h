#pragma once

constexpr const char* APP_VERSION = "v1.0.2";
