#include "app/catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <set>
#include <string>

#include "state/state.h"

namespace {

const char* kLanguageNames[LANG_COUNT] = {"de", "en", "fr", "es", "it"};

int count_of(const std::string& s, const std::string& what) {
    int n = 0;
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + what.size())) {
        n++;
    }
    return n;
}

size_t leading_blanks(const std::string& s) {
    size_t n = 0;
    while (n < s.size() && s[n] == ' ') n++;
    return n;
}

size_t trailing_blanks(const std::string& s) {
    size_t n = 0;
    while (n < s.size() && s[s.size() - 1 - n] == ' ') n++;
    return n;
}

const MessageText* row_named(const char* name) {
    for (size_t i = 0; i < catalogue_row_count; i++) {
        if (strcmp(catalogue_rows[i].name, name) == 0) return catalogue_rows[i].row;
    }
    return nullptr;
}

size_t position_of(const char* name) {
    for (size_t i = 0; i < catalogue_row_count; i++) {
        if (strcmp(catalogue_rows[i].name, name) == 0) return i;
    }
    return catalogue_row_count;
}

// Every entry of every row, with a label for failure messages.
template <typename F>
void for_each_entry(F check) {
    for (size_t r = 0; r < catalogue_row_count; r++) {
        for (int lang = 0; lang < LANG_COUNT; lang++) {
            std::string where =
                std::string(catalogue_rows[r].name) + "[" + kLanguageNames[lang] + "]";
            check(catalogue_rows[r], lang, where);
        }
    }
}

}  // namespace

// The row list is generated from the same entries as the rows, so no row can
// be missing from it; a fixed count here would only make adding a row touch
// this file too.
TEST(CatalogueTable, HoldsEveryRowOnceInLayoutOrder) {
    ASSERT_GT(catalogue_row_count, 0u);
    std::set<std::string> names;
    std::set<const void*> rows;
    for (size_t i = 0; i < catalogue_row_count; i++) {
        ASSERT_NE(catalogue_rows[i].name, nullptr);
        ASSERT_NE(catalogue_rows[i].row, nullptr);
        EXPECT_TRUE(names.insert(catalogue_rows[i].name).second) << catalogue_rows[i].name;
        EXPECT_TRUE(rows.insert(catalogue_rows[i].row).second) << catalogue_rows[i].name;
    }
    EXPECT_EQ(position_of("tlanguages"), 0u);
    EXPECT_EQ(position_of("t_main_title"), 1u);
    EXPECT_EQ(position_of("tcr_s2"), position_of("tcr_s1") + 1);
    EXPECT_EQ(position_of("tcr_s3"), position_of("tcr_s2") + 1);

    // Names lead to the rows of that name.
    EXPECT_EQ(row_named("tOK"), &tOK);
    EXPECT_EQ(row_named("tce_serial2"), &tce_serial2);
    EXPECT_EQ(row_named("tfs_exists_title"), &tfs_exists_title);
    EXPECT_EQ(row_named("tover_title"), &tover_title);
    EXPECT_EQ(row_named("tusage6"), &tusage6);
}

TEST(CatalogueEntries, AreNonEmptyIso88591WithoutUtf8) {
    for_each_entry([](const CatalogueRow& row, int lang, const std::string& where) {
        const char* text = (*row.row)[lang];
        ASSERT_NE(text, nullptr) << where;
        ASSERT_NE(text[0], '\0') << where;
        const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
        for (size_t i = 0; p[i] != 0; i++) {
            EXPECT_FALSE(p[i] < 0x20 && p[i] != '\n') << where << " control byte at " << i;
            EXPECT_FALSE(p[i] >= 0x80 && p[i] <= 0x9F) << where << " byte 0x80-0x9F at " << i;
            bool utf8_lead = p[i] >= 0xC2 && p[i] <= 0xF4;
            bool continuation = p[i + 1] >= 0x80 && p[i + 1] <= 0xBF;
            EXPECT_FALSE(utf8_lead && continuation) << where << " UTF-8 sequence at " << i;
        }
    });
}

TEST(CatalogueEntries, KeepTheLayoutOfTheEnglishText) {
    for_each_entry([](const CatalogueRow& row, int lang, const std::string& where) {
        std::string text = (*row.row)[lang];
        std::string english = (*row.row)[LANG_EN];
        EXPECT_EQ(count_of(text, "\n"), count_of(english, "\n")) << where;
        EXPECT_EQ(leading_blanks(text), leading_blanks(english)) << where;
        // The Italian connection hint runs on without a blank.
        if (row.row == &tce_connect2 && lang == LANG_IT) {
            EXPECT_EQ(trailing_blanks(text), 0u) << where;
            return;
        }
        EXPECT_EQ(trailing_blanks(text), trailing_blanks(english)) << where;
    });
    EXPECT_EQ(std::string(tkxtransexpl[LANG_DE]).substr(0, 4), "    ");
    EXPECT_EQ(trailing_blanks(tkxtransexpl[LANG_ES]), 4u);
}

TEST(CatalogueEntries, OnlyTheTwoFormatsHoldAPercentSign) {
    for_each_entry([](const CatalogueRow& row, int lang, const std::string& where) {
        std::string text = (*row.row)[lang];
        if (row.row == &t_main_title || row.row == &tcr_s1) {
            EXPECT_EQ(count_of(text, "%"), 1) << where;
            EXPECT_EQ(count_of(text, "%s"), 1) << where;
        } else {
            EXPECT_EQ(count_of(text, "%"), 0) << where;
        }
    });
    for (int lang = 0; lang < LANG_COUNT; lang++) {
        char title[256];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        int n = snprintf(title, sizeof title, t_main_title[lang], "1.0");
#pragma GCC diagnostic pop
        EXPECT_GT(n, 0);
        EXPECT_LT(n, 255);
        EXPECT_EQ(std::string(title).rfind("KESTRIX V1.0 ", 0), 0u) << title;
    }
    EXPECT_STREQ(tcr_s1[LANG_EN], "KESTRIX for Linux version %s");
}

TEST(CatalogueEntries, RowsMeantToBeEqualAreEqualInEveryLanguage) {
    const MessageText* same[] = {&tkxmen, &tOK, &tfs_ASCII, &tfs_RTF, &tfs_LaTeX, &t_main_title};
    for (const MessageText* row : same) {
        for (int lang = 0; lang < LANG_COUNT; lang++) {
            EXPECT_STREQ((*row)[lang], (*row)[LANG_EN]);
        }
    }
    EXPECT_STREQ(tOK[LANG_DE], "OK");
    EXPECT_STREQ(tfs_ASCII[LANG_IT], "ASCII (ISO-8859-1)");
    for (int lang = 0; lang < LANG_COUNT; lang++) {
        EXPECT_STREQ(texit_title[lang], tover_title[lang]);
        EXPECT_STREQ(tclear_title[lang], tfs_exists_title[lang]);
        EXPECT_NE(strstr(tcr_s2[lang], "2026 KESTRIX developers\n"), nullptr);
        EXPECT_NE(strstr(tcr_s2[lang], "https://kestrix.example.org/"), nullptr);
        EXPECT_NE(strstr(tcr_s3[lang], "(https://www.gtk.org/)"), nullptr);
        EXPECT_NE(strstr(tcr_s3[lang], "(https://www.gnu.org/software/libc/)"), nullptr);
    }
}

// Every item path lies under its branch once the mnemonic marks are removed,
// and the mnemonics of one menu differ, in every language.
TEST(CatalogueMenus, ItemsSitUnderTheirBranchWithDistinctMnemonics) {
    struct Menu {
        const MessageText* branch;
        std::initializer_list<const MessageText*> items;
    };
    const Menu menus[] = {{&tdatmen, {&tdatmen1, &tdatmen2}},
                          {&tkxmen, {&tkxmen1, &tkxmen2, &tkxmen3, &tkxmen4}},
                          {&thelpmen, {&thelpmen1}}};
    auto strip = [](std::string s) {
        s.erase(std::remove(s.begin(), s.end(), '_'), s.end());
        return s;
    };
    for (int lang = 0; lang < LANG_COUNT; lang++) {
        for (const Menu& menu : menus) {
            std::string branch = (*menu.branch)[lang];
            ASSERT_EQ(branch[0], '/');
            EXPECT_EQ(count_of(branch, "_"), 1) << branch;
            std::set<char> mnemonics;
            for (const MessageText* item : menu.items) {
                std::string path = (*item)[lang];
                size_t last = path.rfind('/');
                ASSERT_NE(last, std::string::npos) << path;
                EXPECT_EQ(strip(path.substr(0, last)), strip(branch)) << path;
                std::string label = path.substr(last + 1);
                ASSERT_EQ(count_of(label, "_"), 1) << path;
                size_t mark = label.find('_');
                ASSERT_LT(mark + 1, label.size()) << path;
                char mnemonic =
                    static_cast<char>(tolower(static_cast<unsigned char>(label[mark + 1])));
                EXPECT_TRUE(mnemonics.insert(mnemonic).second) << path;
            }
        }
    }
}

TEST(CatalogueEntries, FitWhereTheyAreUsed) {
    for (int lang = 0; lang < LANG_COUNT; lang++) {
        // The pen dialog takes "Read text" when the choice begins with it.
        EXPECT_NE(strncmp(tkxconfigmodetrans[lang], tkxconfigmodescan[lang],
                          strlen(tkxconfigmodescan[lang])),
                  0)
            << kLanguageNames[lang];
        // The counts line is built in 100 bytes with two counts of up to 11 characters.
        EXPECT_LT(strlen(tBytes[lang]) + strlen(tScans[lang]) + 2 * 11 + 6, 100u);
        const MessageText* buttons[] = {&tOK, &tCancel, &tYes, &tNo, &tappend_yes, &tappend_no};
        for (const MessageText* button : buttons) EXPECT_LE(strlen((*button)[lang]), 16u);
    }
}

TEST(CatalogueLanguageFromName, MatchesNamePrefixesWithCase) {
    // The names the preferences file holds, each read back as its language.
    const char* names[] = {"Deutsch", "English", "Fran\347ais", "Espa\361ol", "Italiano"};
    for (int lang = 0; lang < LANG_COUNT; lang++) {
        EXPECT_STREQ(tlanguages[lang], names[lang]);
        EXPECT_EQ(language_from_name(names[lang]), lang);
    }
    EXPECT_EQ(language_from_name("English (UK)"), LANG_EN);
}

TEST(CatalogueLanguageFromName, FallsBackToGerman) {
    EXPECT_EQ(language_from_name("english"), LANG_DE);
    EXPECT_EQ(language_from_name(""), LANG_DE);
    EXPECT_EQ(language_from_name("Engl"), LANG_DE);
    EXPECT_EQ(language_from_name("Fran\303\247ais"), LANG_DE);  // UTF-8, not the stored bytes
    EXPECT_EQ(language_from_name(nullptr), LANG_DE);
}
