// Feeds arbitrary files to the real preferences reader and checks that the
// state keeps its invariants whatever the file holds. Run it with
// -close_fd_mask=2: the reader's messages are of no interest here.
#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/prefs.h"
#include "pen/serial.h"
#include "state/state.h"
#include "text/store.h"

namespace {
std::string prefs_file;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static char home[] = "/tmp/kxfuzz.XXXXXX";
    if (!mkdtemp(home)) std::abort();
    setenv("HOME", home, 1);
    prefs_file = std::string(home) + "/.kxrc";
    clear_root();
    setup_data();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(prefs_file.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    SetDefaultPreferences();
    int r = ReadPreferences();
    assert(r == 1);
    assert(root.language >= 0 && root.language <= 4);
    assert(root.save_format >= 0 && root.save_format < FORMAT_COUNT);
    bool known = false;
    for (int i = 0; i < SPEED_COUNT; i++) known = known || root.speed == get_speed(i);
    assert(known);
    assert(std::memchr(root.device, 0, sizeof root.device) != nullptr);
    assert(std::memchr(root.save_name, 0, sizeof root.save_name) != nullptr);
    return 0;
}
