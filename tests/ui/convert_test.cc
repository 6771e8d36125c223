// Conversions between the program's ISO-8859-1 texts and GTK's UTF-8.
#include "ui/convert.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <string>

namespace {

std::string take(char* s) {
    std::string out = s ? s : "<null>";
    g_free(s);
    return out;
}

TEST(Convert, EveryLatin1ByteRoundTrips) {
    std::string all;
    for (int c = 1; c < 256; c++) all += static_cast<char>(c);
    char* u = to_utf8(all.c_str());
    ASSERT_NE(u, nullptr);
    EXPECT_TRUE(g_utf8_validate(u, -1, nullptr));
    EXPECT_EQ(g_utf8_strlen(u, -1), 255);
    EXPECT_EQ(take(from_utf8(u)), all);
    g_free(u);
}

TEST(Convert, KnownCharacters) {
    EXPECT_EQ(take(to_utf8("Gr\374\337e \251")),
              "Gr\xc3\xbc\xc3\x9f"
              "e \xc2\xa9");
    EXPECT_EQ(take(from_utf8("Fran\xc3\xa7"
                             "ais")),
              "Fran\347ais");
    EXPECT_EQ(take(to_utf8("")), "");
}

TEST(Convert, CharactersLatin1LacksBecomeQuestionMarks) {
    // Euro sign, oe ligature, a CJK character, an emoji: one '?' each.
    EXPECT_EQ(take(from_utf8("10 \xe2\x82\xac, \xc5\x93uvre, \xe4\xb8\xad, \xf0\x9f\x98\x80!")),
              "10 ?, ?uvre, ?, ?!");
}

TEST(Convert, MalformedUtf8KeepsTheRest) {
    // A stray continuation byte and a cut-off sequence must not lose the text.
    EXPECT_EQ(take(from_utf8("ab\x80"
                             "cd\xc3")),
              "ab?cd?");
}

TEST(Convert, NullStaysNull) {
    EXPECT_EQ(to_utf8(nullptr), nullptr);
    EXPECT_EQ(from_utf8(nullptr), nullptr);
}

}  // namespace
