#include "TranslateChar.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// In the order each pass tries them; entry i is replaced by table byte i.
constexpr const char* kSequenceTexts[CTranslateChar::kSequences] = {
    "!!AE", "!!ae", "!!OE", "!!oe", "!!AA", "!!aa", "!!o-",
    "!!u-", "!!n-", "!!e-", "!!i-", "!!a-", "!!u_", "!!o_"};
constexpr std::size_t kSequenceLength = 4;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

CTranslateChar::CTranslateChar(const char* fileName) {
    if (fileName == nullptr) return;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(fileName, "rb"));
    if (!file) return;
    const std::size_t got = std::fread(m_table.data(), 1, m_table.size(), file.get());
    m_loaded = got == m_table.size();
}

CTranslateChar::~CTranslateChar() = default;

bool CTranslateChar::ReplaceFirst(const char* sequence, char replacement) {
    char* found = std::strstr(m_work, sequence);
    if (found == nullptr) return false;
    // The tail moves three places to the left, through the scratch buffer.
    const char* tail = found + kSequenceLength;
    const std::size_t tailLength = std::strlen(tail);
    std::memcpy(m_scratch, tail, tailLength + 1);
    *found = replacement;
    std::memcpy(found + 1, m_scratch, tailLength + 1);
    return true;
}

const char* CTranslateChar::translateSequences(const char* text) {
    if (text == nullptr || !m_loaded) return text;
    const std::size_t length = std::strlen(text);
    if (length > kMaxText) return text;

    std::memset(m_work, 0, sizeof m_work);
    std::memcpy(m_work, text, length);
    // One pass replaces the first occurrence of each sequence; passes repeat
    // until nothing changes. Each replacement shortens the text, so this ends.
    do {
        m_changed = false;
        for (std::size_t i = 0; i < kSequences; ++i) {
            if (ReplaceFirst(kSequenceTexts[i], static_cast<char>(m_table[i]))) m_changed = true;
        }
    } while (m_changed);
    return m_work;
}
