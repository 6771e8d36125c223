// Feeds arbitrary stores to the real exporters: the input is taken as
// (character, attribute) pairs, stored through the download's own block
// writer, then exported in all three formats.
#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "app/prefs.h"
#include "app/state.h"
#include "pen/download.h"
#include "text/export.h"
#include "text/store.h"

namespace {
FILE* sink;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    clear_root();
    setup_data();
    SetDefaultPreferences();
    sink = std::fopen("/dev/null", "w");
    if (!sink) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    setup_data();
    size_t pairs = size / 2;
    while (pairs > 0) {
        const int n = pairs > BLOCK_MAX_PAIRS ? BLOCK_MAX_PAIRS : static_cast<int>(pairs);
        if (!store_block(data, n)) return 0;
        data += 2 * n;
        pairs -= static_cast<size_t>(n);
    }
    for (int format = 0; format < FORMAT_COUNT; format++) {
        root.save_format = format;
        root.unsaved = 1;
        const int r = ExportText(nullptr, sink);
        assert(r == 1);
        assert(root.unsaved == 0);
    }
    return 0;
}
