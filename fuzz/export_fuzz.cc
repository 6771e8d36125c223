// Feeds arbitrary stores to the real exporters: the input is taken as
// (character, attribute) pairs, stored through the download's own block
// writer, then exported in every format. The UTF-8 text must be the ASCII
// text converted.
#include <glib.h>

#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/prefs.h"
#include "pen/download.h"
#include "state/state.h"
#include "text/export.h"
#include "text/store.h"

namespace {

FILE* sink;

// The store exported in `format` into memory.
std::string exported(int format) {
    char* bytes = nullptr;
    size_t size = 0;
    FILE* memory = open_memstream(&bytes, &size);
    if (!memory) std::abort();
    root.save_format = format;
    const int r = ExportText(nullptr, memory);
    assert(r == 1);
    std::fclose(memory);
    std::string out(bytes, size);
    std::free(bytes);
    return out;
}

}  // namespace

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
    const std::string ascii = exported(FORMAT_ASCII);
    gsize converted_size = 0;
    gchar* converted = g_convert(ascii.data(), static_cast<gssize>(ascii.size()), "UTF-8",
                                 "ISO-8859-1", nullptr, &converted_size, nullptr);
    assert(converted && exported(FORMAT_UTF8) == std::string(converted, converted_size));
    g_free(converted);
    return 0;
}
