#pragma once
// Turns the "!!xx" letter sequences that language-3 message texts use for
// letters outside ASCII into the 8-bit characters of the installation's
// table file ("translate.bin"). A translator belongs to one database
// operations object and is used by one thread at a time.

#include <array>
#include <cstddef>

class CTranslateChar {
  public:
    // Longest text that is translated; longer texts are returned as given.
    static constexpr std::size_t kMaxText = 1999;
    // Bytes read from the table file; only the first kSequences are used.
    static constexpr std::size_t kTableSize = 100;
    static constexpr std::size_t kSequences = 14;

    // Reads the table. A missing or short file leaves the translator
    // unloaded (texts pass through unchanged), without any message.
    explicit CTranslateChar(const char* fileName);
    virtual ~CTranslateChar();

    CTranslateChar(const CTranslateChar&) = delete;
    CTranslateChar& operator=(const CTranslateChar&) = delete;

    // The translated text. It lives in the translator's working buffer and
    // stays valid until the next call. When the translator is not loaded,
    // or the text is too long or absent, the caller's own pointer comes back.
    const char* translateSequences(const char* text);

    bool Loaded() const { return m_loaded; }

  private:
    bool ReplaceFirst(const char* sequence, char replacement);

    std::array<unsigned char, kTableSize> m_table{};
    char m_work[kMaxText + 1] = {};
    char m_scratch[kMaxText + 1] = {};
    bool m_loaded = false;
    bool m_changed = false;
};
