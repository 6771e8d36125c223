#include "text/store.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "state/state.h"

namespace {

using Pairs = std::vector<unsigned char>;

Pairs plain(size_t count, unsigned char c = 'a', unsigned char attribute = 1) {
    Pairs pairs;
    for (size_t i = 0; i < count; i++) {
        pairs.push_back(c);
        pairs.push_back(attribute);
    }
    return pairs;
}

int store(const Pairs& pairs) {
    return store_block(pairs.data(), static_cast<int>(pairs.size() / 2));
}

std::string text() {
    return std::string(root.text, root.text_length);
}

// Reallocation that fails on the given call (1 = the text, 2 = the attributes)
// and remembers what it handed out.
int realloc_calls = 0;
int realloc_fail_at = 0;
void* last_grown = nullptr;

void* counting_realloc(void* block, size_t size) {
    realloc_calls++;
    if (realloc_calls == realloc_fail_at) return nullptr;
    last_grown = g_try_realloc(block, size);
    return last_grown;
}

class StoreTest : public ::testing::Test {
   protected:
    void SetUp() override {
        clear_root();
        setup_data();
        realloc_calls = realloc_fail_at = 0;
        last_grown = nullptr;
    }
    void TearDown() override {
        store_realloc = g_try_realloc;
        g_free(root.text);
        g_free(root.attributes);
        clear_root();
    }
    static void fill(int length) {
        std::memset(root.text, 'x', static_cast<size_t>(length));
        std::memset(root.attributes, 3, static_cast<size_t>(length));
        root.text[length] = '\0';
        root.text_length = length;
    }
};

TEST_F(StoreTest, StartsEmpty) {
    ASSERT_NE(root.text, nullptr);
    ASSERT_NE(root.attributes, nullptr);
    EXPECT_STREQ(root.text, "");
    EXPECT_EQ(root.text_capacity, STORE_STEP);
    EXPECT_EQ(root.text_length, 0);
    EXPECT_EQ(root.scan_count, 0);
    EXPECT_EQ(root.unsaved, 0);
}

TEST_F(StoreTest, ResetAfterGrowthStartsOver) {
    for (int i = 0; i < 100; i++) ASSERT_EQ(store(plain(127)), 1);
    ASSERT_EQ(root.text_capacity, 4 * STORE_STEP);
    root.unsaved = 1;
    setup_data();
    EXPECT_STREQ(root.text, "");
    EXPECT_EQ(root.text_capacity, STORE_STEP);
    EXPECT_EQ(root.text_length, 0);
    EXPECT_EQ(root.scan_count, 0);
    EXPECT_EQ(root.unsaved, 0);
}

TEST_F(StoreTest, SpecialCodesAndAttributes) {
    ASSERT_EQ(store({2, 1, 0, 3, 1, 0, 10, 2, 'q', 0xC5}), 1);
    EXPECT_EQ(text(), "EURoeOE\nq");
    const unsigned char expected[] = {1, 1, 1, 3, 3, 0, 0, 2, 0xC5};
    EXPECT_EQ(0, std::memcmp(root.attributes, expected, sizeof expected));
    EXPECT_EQ(root.text[9], '\0');
    EXPECT_EQ(root.scan_count, 1);

    // Appends behind what is there; an empty block only counts a scan.
    ASSERT_EQ(store({}), 1);
    ASSERT_EQ(store(plain(2, 'z')), 1);
    EXPECT_EQ(text(), "EURoeOE\nqzz");
    EXPECT_EQ(root.scan_count, 3);
    EXPECT_EQ(strlen(root.text), 11u);
}

TEST_F(StoreTest, GrowthBoundary) {
    fill(4000);
    ASSERT_EQ(store(plain(93)), 1);
    EXPECT_EQ(root.text_capacity, 4096);
    EXPECT_EQ(root.text_length, 4093);
    EXPECT_EQ(root.text[4093], '\0');

    fill(4000);
    ASSERT_EQ(store(plain(94)), 1);
    EXPECT_EQ(root.text_capacity, 8192);
    EXPECT_EQ(root.text_length, 4094);
    // The text before the growth came along.
    EXPECT_EQ(root.text[0], 'x');
    EXPECT_EQ(root.attributes[3999], 3);
    EXPECT_EQ(root.text[4093], 'a');

    // Expanded codes count: 31 euro signs add 93 characters, like 93 plain pairs.
    setup_data();
    fill(4000);
    ASSERT_EQ(store(plain(31, 2)), 1);
    EXPECT_EQ(root.text_capacity, 4096);
    setup_data();
    fill(4001);
    ASSERT_EQ(store(plain(31, 2)), 1);
    EXPECT_EQ(root.text_capacity, 8192);
}

TEST_F(StoreTest, ManyLargeBlocksKeepTheInvariants) {
    std::string expected;
    for (int i = 0; i < 200; i++) {
        ASSERT_EQ(store(plain(127, 2, static_cast<unsigned char>(i))), 1);
        for (int k = 0; k < 127; k++) expected += "EUR";
        ASSERT_LT(root.text_length, root.text_capacity);
        ASSERT_EQ(root.text_capacity % STORE_STEP, 0);
        ASSERT_EQ(root.text[root.text_length], '\0');
    }
    EXPECT_EQ(text(), expected);
    EXPECT_EQ(root.attributes[381 * 199], 199);
    EXPECT_EQ(root.scan_count, 200);
}

TEST_F(StoreTest, FailedGrowthLeavesTheStoreIntact) {
    for (int fail_at : {1, 2}) {
        setup_data();
        fill(4000);
        root.scan_count = 7;
        char* old_text = root.text;
        unsigned char* old_attributes = root.attributes;
        realloc_calls = 0;
        realloc_fail_at = fail_at;
        store_realloc = counting_realloc;

        EXPECT_EQ(store(plain(94, 'n')), 0) << fail_at;
        EXPECT_EQ(root.text_length, 4000);
        EXPECT_EQ(root.text_capacity, 4096);
        EXPECT_EQ(root.scan_count, 7);
        EXPECT_EQ(root.text[4000], '\0');
        EXPECT_EQ(root.text[3999], 'x');
        EXPECT_EQ(root.attributes[3999], 3);
        EXPECT_EQ(root.attributes, old_attributes);
        if (fail_at == 1) {
            EXPECT_EQ(root.text, old_text);
        } else {
            // The grown text buffer is kept; the old one is gone.
            EXPECT_EQ(root.text, last_grown);
        }

        // Once memory is there again the same block goes in.
        store_realloc = g_try_realloc;
        EXPECT_EQ(store(plain(94, 'n')), 1);
        EXPECT_EQ(root.text_capacity, 8192);
        EXPECT_EQ(root.text_length, 4094);
        EXPECT_EQ(root.text[4093], 'n');
    }
}

std::string attributes() {
    std::string digits;
    for (int i = 0; i < root.text_length; i++)
        digits += static_cast<char>('0' + root.attributes[i]);
    return digits;
}

// Each edit starts from "abc" with attributes 0,1,2.
TEST_F(StoreTest, InsertAndDeleteKeepTextAttributesAndTerminator) {
    struct Case {
        bool insert;
        int offset, count;
        const char* letters;
        int result;
        const char* text;
        const char* attributes;
    } cases[] = {
        {true, 0, 2, "\xE4z", 1, "\xE4zabc", "33012"},
        {true, 1, 1, "y", 1, "aybc", "0312"},
        {true, 4, 1, "y", 0, "abc", "012"},
        {true, 1, 0, "", 1, "abc", "012"},
        {false, 0, 1, nullptr, 1, "bc", "12"},
        {false, 1, 2, nullptr, 1, "a", "0"},
        {false, 0, 3, nullptr, 1, "", ""},
        {false, 2, 2, nullptr, 0, "abc", "012"},
        {false, 1, -1, nullptr, 0, "abc", "012"},
    };
    for (const Case& c : cases) {
        setup_data();
        ASSERT_EQ(store({'a', 0, 'b', 1, 'c', 2}), 1);
        root.unsaved = 0;
        int result = c.insert ? store_insert(c.offset, c.letters, c.count, 3)
                              : store_delete(c.offset, c.count);
        EXPECT_EQ(result, c.result) << c.text;
        EXPECT_EQ(text(), c.text);
        EXPECT_EQ(attributes(), c.attributes) << c.text;
        EXPECT_EQ(root.text[root.text_length], '\0');
        EXPECT_EQ(root.unsaved, c.result == 1 && c.count > 0 ? 1 : 0) << c.text;
    }
}

TEST_F(StoreTest, InsertGrowsByStepsOrLeavesTheStoreIntact) {
    std::string letters(94, 'n');
    for (int fail_at : {0, 2}) {
        setup_data();
        fill(4000);
        realloc_calls = 0;
        realloc_fail_at = fail_at;
        store_realloc = counting_realloc;
        EXPECT_EQ(store_insert(5, letters.c_str(), 94, 1), fail_at == 0 ? 1 : 0);
        EXPECT_EQ(root.text_capacity, fail_at == 0 ? 8192 : 4096);
        EXPECT_EQ(root.text_length, fail_at == 0 ? 4094 : 4000);
        EXPECT_EQ(root.text[5], fail_at == 0 ? 'n' : 'x');
        EXPECT_EQ(root.text[root.text_length], '\0');
    }
}

}  // namespace
