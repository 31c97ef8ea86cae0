#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "TranslateChar.h"

namespace {

// A table file in a private folder; byte i of the first 14 is 'A' + i unless
// the test says otherwise.
class TableFile {
  public:
    explicit TableFile(std::size_t size, std::string first = "ABCDEFGHIJKLMN") {
        std::random_device random;
        m_path = std::filesystem::temp_directory_path() /
                 ("zor-translate-" + std::to_string(random()) + ".bin");
        std::string bytes(size, 'z');
        bytes.replace(0, std::min(first.size(), size), first.substr(0, size));
        std::ofstream(m_path, std::ios::binary) << bytes;
    }
    ~TableFile() { std::filesystem::remove(m_path); }
    std::string Path() const { return m_path.string(); }

  private:
    std::filesystem::path m_path;
};

TEST(TranslateChar, TableMustHoldOneHundredBytes) {
    struct Case {
        std::size_t size;
        bool loaded;
    } cases[] = {{0, false}, {99, false}, {100, true}, {150, true}};
    for (const Case& c : cases) {
        TableFile table(c.size);
        CTranslateChar translator(table.Path().c_str());
        EXPECT_EQ(translator.Loaded(), c.loaded) << c.size;
        const char* text = "x!!AEy";
        const char* result = translator.translateSequences(text);
        if (c.loaded) {
            EXPECT_STREQ(result, "xAy") << c.size;
        } else {
            EXPECT_EQ(result, text) << "an unloaded translator hands back the caller's text";
        }
    }
}

TEST(TranslateChar, MissingFileLeavesTextsAlone) {
    CTranslateChar translator("/nonexistent/translate.bin");
    EXPECT_FALSE(translator.Loaded());
    const char* text = "!!ae";
    EXPECT_EQ(translator.translateSequences(text), text);
    EXPECT_EQ(translator.translateSequences(nullptr), nullptr);
}

TEST(TranslateChar, ReplacesEverySequenceWithItsTableByte) {
    // Table byte 3 = x, 13 = y.
    TableFile table(100, "ABCxEFGHIJKLMy");
    CTranslateChar translator(table.Path().c_str());
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"Sm!!oerebr!!o_d", "Smxrebryd"},
        {"!!AE!!ae!!OE!!oe!!AA!!aa!!o-!!u-!!n-!!e-!!i-!!a-!!u_!!o_", "ABCxEFGHIJKLMy"},
        {"!!ae!!ae", "BB"},
        {"!!oe!!oe!!oe x !!oe", "xxx x x"},
        {"!!!!aeae", "!!Bae"},
        {"no sequences, ! and !! alone", "no sequences, ! and !! alone"},
        {"!!XX !!a", "!!XX !!a"},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(std::string(translator.translateSequences(c.in)), c.out) << c.in;
    }
}

TEST(TranslateChar, EightBitTableBytesAreCarriedThrough) {
    TableFile table(100, "\xC6\xE6\xD8\xF8\xC5\xE5");
    CTranslateChar translator(table.Path().c_str());
    EXPECT_EQ(std::string(translator.translateSequences("Tr!!oendelag !!AArhus")),
              "Tr\xF8ndelag \xC5rhus");
}

TEST(TranslateChar, TextsLongerThan1999CharactersAreNotTranslated) {
    TableFile table(100);
    CTranslateChar translator(table.Path().c_str());

    std::string longest = "!!AE" + std::string(CTranslateChar::kMaxText - 8, '.') + "!!ae";
    ASSERT_EQ(longest.size(), 1999u);
    const std::string translated = translator.translateSequences(longest.c_str());
    EXPECT_EQ(translated.size(), 1993u);
    EXPECT_EQ(translated.front(), 'A');
    EXPECT_EQ(translated.back(), 'B');

    const std::string tooLong = longest + ".";
    EXPECT_EQ(translator.translateSequences(tooLong.c_str()), tooLong.c_str());
}

TEST(TranslateChar, ResultStaysValidUntilTheNextCall) {
    TableFile table(100);
    CTranslateChar translator(table.Path().c_str());
    const char* first = translator.translateSequences("a!!AEb");
    EXPECT_STREQ(first, "aAb");
    translator.translateSequences("!!ae");
    EXPECT_STREQ(first, "B") << "the working buffer is shared by all calls";
}

}  // namespace
