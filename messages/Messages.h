#pragma once
// Numbered operator messages. A catalogue looks a message's text up in the
// suite database (once per number, then from its cache), fills in the
// caller's values and logs the event in arrivedMessages and
// arrivedMessagesString, where the operator GUI reads it. The repeat filter
// of the bound database object keeps a message that is reported again and
// again from flooding those tables.
//
// Message texts are printf-style, but they are data: they come from the
// database and may not fit the values a caller gives. They are therefore
// never handed to printf as they are. Each conversion is expanded only when
// a value of its kind was given for it; any other conversion (no value left,
// a value of another kind, %n, %p, or something printf would not know) is
// left in the text as it stands.
//
// A catalogue is used by the thread of its owner only.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "MessageClock.h"

class CDBoperations;
class CFsmBase;

// One value for a message text: an integer (for d i o u x X c and for a '*'
// width or precision), a floating-point number (f F e E g G a A) or a text
// (s). Texts are copied.
class CMessageValue {
  public:
    enum class Kind { Integer, Floating, Text };

    template <class T, std::enable_if_t<std::is_integral_v<T>, int> = 0>
    CMessageValue(T value)  // NOLINT: implicit on purpose
        : m_kind(Kind::Integer), m_bits(static_cast<unsigned long long>(value)) {}
    template <class T, std::enable_if_t<std::is_floating_point_v<T>, int> = 0>
    CMessageValue(T value)  // NOLINT
        : m_kind(Kind::Floating), m_floating(static_cast<double>(value)) {}
    CMessageValue(const char* text)  // NOLINT
        : m_kind(Kind::Text), m_text(text != nullptr ? text : "(null)") {}
    CMessageValue(const std::string& text) : m_kind(Kind::Text), m_text(text) {}  // NOLINT
    CMessageValue(std::string_view text) : m_kind(Kind::Text), m_text(text) {}    // NOLINT

    Kind kind() const { return m_kind; }
    // The integer's bits (signed values sign-extended); a conversion takes
    // the width it names from them, as printf converts its argument.
    unsigned long long bits() const { return m_bits; }
    double floating() const { return m_floating; }
    const std::string& text() const { return m_text; }

  private:
    Kind m_kind;
    unsigned long long m_bits = 0;
    double m_floating = 0.0;
    std::string m_text;
};

using CMessageValues = std::vector<CMessageValue>;

// Formats a message text with values by printf rules, safely (see above):
// the i-th conversion takes the i-th value (a '*' takes one more before it).
// The result is cut at an embedded zero character and to maxChars.
std::string FormatMessageText(std::string_view text, const CMessageValues& values,
                              std::size_t maxChars);

class CMessages {
  public:
    // Language of the texts a catalogue reports once initialised.
    static constexpr int kReportLanguage = 3;
    // Longest formatted text; a longer one is cut.
    static constexpr std::size_t kMaxTextChars = 399;
    // What a handler's catalogue posts to its target after each logging.
    static constexpr int32_t kNewMessageSignal = 50032;  // ZQPEL_32
    static constexpr std::string_view kNewMessagePayload{"$ZQPEL,32\n\r", 11};

    explicit CMessages(CMessageClock& clock = CMessageClock::system());
    virtual ~CMessages();
    CMessages(const CMessages&) = delete;
    CMessages& operator=(const CMessages&) = delete;

    // The machine told about each new message. No effect here; a handler's
    // catalogue (CMessageFsmInterf) keeps it.
    virtual void attachTarget(CFsmBase* target);
    // Called after every logging that the repeat filter let through. No
    // effect here.
    virtual void notifyNewMessage();

    // Binds the catalogue to a database object (not owned; may be null,
    // which makes every report do nothing). Bind before the object logs in.
    void setDbOperations(CDBoperations* db);
    // Sets the report language; call once right after the bound object's
    // login.
    void initCatalogue();

    // Looks the message up, formats its text with the values and logs it.
    // Never fails towards the caller and never throws.
    template <class... Values>
    void reportMessage(int number, const Values&... values) {
        reportMessageValues(number, CMessageValues{CMessageValue(values)...});
    }
    void reportMessageValues(int number, const CMessageValues& values) noexcept;
    // Logs a message number without text. Never throws.
    void reportNumber(int number) noexcept;

    int language() const { return m_language; }
    CDBoperations* dbOperations() const { return m_db; }
    // The texts looked up so far, by number.
    const std::map<int, std::string>& cachedTexts() const { return m_texts; }

  private:
    // The cached text of a number, looked up on first use; null when the
    // lookup failed (nothing is cached then).
    const std::string* Text(int number);

    CDBoperations* m_db = nullptr;
    int m_language = 0;
    std::map<int, std::string> m_texts;
    CMessageClock* m_clock;
};
