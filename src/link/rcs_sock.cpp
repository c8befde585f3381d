#include "link/rcs_sock.h"

#include "base/rvx.h"
#include "common/paths.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

rvx_st_io* rvx_ = nullptr;
RcsReceiver receiver_ = nullptr;

constexpr size_t SEND_BUFFER_SIZE = 1024;

// Each read is taken as one whole message: the control server writes one
// element at a time, and nothing is kept from one read to the next.
int read_event(rvx_st_io* io) {
    char buffer[RVX_READ_MAX + 1];
    int count = rvx_ReadData(io, buffer);
    if (count <= 0) {
        return 0;
    }
    buffer[count] = '\0';
    if (receiver_ != nullptr) {
        receiver_(buffer);
    }
    return 0;
}

int close_event(rvx_st_io* io) {
    rvx_Release_Rvx(io);
    if (io == rvx_) {
        rvx_ = nullptr;
    }
    return 0;
}

} // namespace

void rcssock_set_receiver(RcsReceiver receiver) {
    receiver_ = receiver;
}

int rcssock_open() {
    if (rvx_ != nullptr) {
        return 1;
    }
    rvx_ = rvx_UnixClient(paths::at(paths::RCS_SOCKET).c_str());
    if (rvx_ == nullptr) {
        return 0;
    }
    rvx_Set_Type(rvx_, -1);
    rvx_Set_ReadEvent(rvx_, read_event);
    rvx_Set_CloseEvent(rvx_, close_event);
    rcssock_send("<set_rc name=\"ondemand\" />\n");
    rcssock_send("<get_network_ifsetting/>\n");
    return 1;
}

void rcssock_send(const char* format, ...) {
    if (rvx_ == nullptr) {
        return;
    }
    char buffer[SEND_BUFFER_SIZE];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length <= 0) {
        return;
    }
    // A longer text was cut to the buffer: its first 1023 characters go out.
    size_t count = std::min(static_cast<size_t>(length), sizeof buffer - 1);
    rvx_WriteData(rvx_, buffer, count);
}

void rcssock_close() {
    if (rvx_ != nullptr) {
        rvx_Release_Rvx(rvx_);
        rvx_ = nullptr;
    }
}

int rcssock_is_open() {
    return rvx_ != nullptr ? 1 : 0;
}
