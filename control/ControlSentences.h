#pragma once
// The controller's readers and writers of sentence texts. Each reader is a
// pure function of the received bytes: it never reads past the view it is
// given, treats missing fields as empty, and reads any number of digits
// without overflow.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A sounder: type and serial number, ordered by type, then serial.
struct CSounderKey {
    uint16_t type = 0;
    uint16_t serial = 0;
    bool operator<(const CSounderKey& o) const {
        return type != o.type ? type < o.type : serial < o.serial;
    }
    bool operator==(const CSounderKey& o) const { return type == o.type && serial == o.serial; }
};

namespace control_sentences {

// The decimal value of the digits at the start of `text`, reading stops at
// the first non-digit (no digits: 0), cut to its low 16 bits.
uint16_t Low16(std::string_view text);

// The sounder named by the third field of a sentence ("$ZQPEL,n,t_s:..."
// or "$ZQPEL,n,t_s,..."). Empty when the sentence is garbled: no comma
// after the sentence number, no ':' or ',' after the third field's start,
// or no '_' there.
std::optional<CSounderKey> SounderOfThirdField(std::string_view sentence);

// The text message 433 carries for a garbled sentence: its first 7 to 11
// characters (by its length), "...", and runs of '/' made single.
std::string ShortenedForMessage(std::string_view sentence);

// Sentence 43 built from fields 3, 4 and 5 of sentence 80 (the text ends at
// its first zero byte, carriage return or line feed); empty when field 3 is
// empty or missing.
std::optional<std::string> ExternalSvSentence(std::string_view sentence80);

// The sounder type after the first '=' of a remote datagram (reading stops
// at the first non-digit, cut to 16 bits); empty without '='.
std::optional<uint16_t> RemoteSounderType(std::string_view datagram);

// Type and serial number as fields `typeField` and typeField + 1 (counting
// from 1) of a sentence, each of which must read completely as a decimal
// integer, white space around it allowed. Empty otherwise. Values beyond
// 16 bits are kept (saturated) so that they match no sounder.
struct CKeyFields {
    long long type = 0;
    long long serial = 0;
};
std::optional<CKeyFields> KeyFields(std::string_view sentence, size_t typeField);

// One item of a start list: the texts as they stand and their values.
struct CStartItem {
    std::string text;  // the whole item
    std::string typeText;
    std::string serialText;
    CSounderKey key;
};
// The list part of a start list sentence: the text (up to its first zero
// byte) after its 10-character head; empty when shorter than 10.
std::string StartListBody(std::string_view sentence13);
// The items of a list, cut at ':', carriage return and line feed, empty
// items skipped, ending before the first item of 2 characters or fewer.
std::vector<CStartItem> StartListItems(std::string_view list);

// "$ZQPEL,19,<type>_<serial>\n\r": asks a handler to terminate.
std::string MakeHandlerTermSentence(uint16_t type, uint16_t serial);

}  // namespace control_sentences
