#include "text/store.h"

#include <glib.h>

#include <climits>
#include <cstring>

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

int store_insert(int offset, const char* latin1, int count, unsigned char attribute) {
    int length = root.text_length.load(std::memory_order_relaxed);
    if (offset < 0 || offset > length || count < 0 || (count > 0 && latin1 == nullptr)) return 0;
    if (count == 0) return 1;
    if (count > INT_MAX - 2 - length) return 0;
    while (length + count + 2 >= root.text_capacity) {
        if (!grow_store()) return 0;
    }

    // Shift the tail and its terminator up, then fill the gap.
    size_t tail = static_cast<size_t>(length - offset);
    std::memmove(root.text + offset + count, root.text + offset, tail + 1);
    std::memmove(root.attributes + offset + count, root.attributes + offset, tail);
    std::memcpy(root.text + offset, latin1, static_cast<size_t>(count));
    std::memset(root.attributes + offset, attribute, static_cast<size_t>(count));

    root.text_length.store(length + count, std::memory_order_release);
    root.unsaved = 1;
    return 1;
}

int store_delete(int offset, int count) {
    int length = root.text_length.load(std::memory_order_relaxed);
    if (offset < 0 || count < 0 || offset > length || count > length - offset) return 0;
    if (count == 0) return 1;

    // The tail and its terminator move down over the deleted characters.
    size_t tail = static_cast<size_t>(length - offset - count);
    std::memmove(root.text + offset, root.text + offset + count, tail + 1);
    std::memmove(root.attributes + offset, root.attributes + offset + count, tail);

    root.text_length.store(length - count, std::memory_order_release);
    root.unsaved = 1;
    return 1;
}
