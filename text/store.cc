#include "text/store.h"

#include <glib.h>

#include <climits>

#include "state/state.h"

// g_try_realloc fails with null where g_realloc would end the program, so a
// download that cannot grow the store reports it and keeps what it has.
void* (*store_realloc)(void* block, size_t size) = g_try_realloc;

void setup_data() {
    g_free(root.text);
    g_free(root.attributes);
    root.text = static_cast<char*>(g_malloc(STORE_STEP));
    root.attributes = static_cast<unsigned char*>(g_malloc(STORE_STEP));
    root.text[0] = '\0';
    root.text_capacity = STORE_STEP;
    root.text_length = 0;
    root.scan_count = 0;
    root.unsaved = 0;
}

namespace {

// Characters a pair's code stands for: the pen's codes 0, 1 and 2 are
// ligatures and the euro sign, which ISO-8859-1 lacks.
int expansion(unsigned char code, const char** letters) {
    switch (code) {
        case 0:
            *letters = "oe";
            return 2;
        case 1:
            *letters = "OE";
            return 2;
        case 2:
            *letters = "EUR";
            return 3;
        default:
            *letters = nullptr;
            return 1;
    }
}

// Grows both buffers by one step. The grown pointer is kept at once, so a
// second reallocation that fails leaves no dangling pointer and no leak;
// `text_capacity` rises only when both have grown.
int grow_store() {
    if (root.text_capacity > INT_MAX - STORE_STEP) return 0;
    size_t size = static_cast<size_t>(root.text_capacity) + STORE_STEP;
    void* text = store_realloc(root.text, size);
    if (text == nullptr) return 0;
    root.text = static_cast<char*>(text);
    void* attributes = store_realloc(root.attributes, size);
    if (attributes == nullptr) return 0;
    root.attributes = static_cast<unsigned char*>(attributes);
    root.text_capacity += STORE_STEP;
    return 1;
}

}  // namespace

int store_block(const unsigned char* pairs, int n) {
    if (n < 0) n = 0;

    long long added = 0;
    for (int i = 0; i < n; i++) {
        const char* letters;
        added += expansion(pairs[2 * i], &letters);
    }

    // Only this thread writes text_length, so a relaxed load sees our own value.
    int start = root.text_length.load(std::memory_order_relaxed);
    while (start + added + 2 >= root.text_capacity) {
        if (!grow_store()) return 0;
    }

    int pos = start;
    for (int i = 0; i < n; i++) {
        unsigned char code = pairs[2 * i];
        unsigned char attribute = pairs[2 * i + 1];
        const char* letters;
        int count = expansion(code, &letters);
        for (int k = 0; k < count; k++) {
            root.text[pos] = letters != nullptr ? letters[k] : static_cast<char>(code);
            root.attributes[pos] = attribute;
            pos++;
        }
    }
    root.text[pos] = '\0';

    // Publish: a reader that sees the new length also sees the text before it.
    root.text_length.store(pos, std::memory_order_release);
    root.scan_count.fetch_add(1, std::memory_order_release);
    return 1;
}
