#pragma once
// The field splitter of every sentence parser.

#include <string>
#include <string_view>
#include <vector>

// Splits `text` at every `delimiter`. A field is produced for every
// delimiter (the text before it, possibly empty) and for the text after the
// last delimiter only when that text is not empty. So "a,b" and "a,b," both
// give two fields, ",a" gives "" and "a", and "" gives none. No field holds
// the delimiter.
std::vector<std::string> SplitFields(std::string_view text, char delimiter);
