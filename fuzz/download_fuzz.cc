// Feeds arbitrary pen bytes to the real download loop (and through it the
// block receiver). The line is one end of a socket pair whose other end holds
// the input and is then shut, so every read after the input returns at once;
// a thread takes away what the program sends (acknowledgements), as a pen
// would, so that its writes never wait for room.
#include <sys/socket.h>
#include <unistd.h>

#include <cassert>
#include <cstdint>
#include <cstring>
#include <thread>

#include "app/prefs.h"
#include "pen/download.h"
#include "pen/protocol.h"
#include "pen/serial.h"
#include "state/state.h"
#include "text/store.h"

// The pen link pauses for the pen's sake (1 ms per byte, 120 ms per speed
// change); a fuzzer has no pen to wait for. This definition takes the place of
// the C library's for the whole program.
extern "C" int usleep(useconds_t) {
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    clear_root();
    setup_data();
    SetDefaultPreferences();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8192) return 0;
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return 0;
    size_t done = 0;
    while (done < size) {
        ssize_t w = write(sv[1], data + done, size - done);
        if (w <= 0) break;
        done += static_cast<size_t>(w);
    }
    shutdown(sv[1], SHUT_WR);
    std::thread pen([fd = sv[1]] {
        char sink[4096];
        while (read(fd, sink, sizeof sink) > 0) {
        }
    });

    setup_data();
    kxinterface_break = 0;
    port_fd = sv[0];
    const int r = download_text();
    port_fd = -1;
    close(sv[0]);
    pen.join();
    close(sv[1]);

    assert(r == PEN_OK || r == PEN_ERR_TRANSFER || r == PEN_ERR_MEMORY);
    const int length = root.text_length;
    assert(length >= 0 && length < root.text_capacity);
    assert(root.text[length] == '\0');
    assert(std::strlen(root.text) == static_cast<size_t>(length));
    return 0;
}
