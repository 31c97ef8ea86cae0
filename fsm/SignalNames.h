#pragma once
// The signal vocabulary of the suite: a printable name for every signal
// number that can reach a trace. Not sorted; a lookup takes the first row
// with the number, so order matters where a number occurs twice.

#include <cstddef>
#include <cstdint>

struct FsmSignalNameRow {
    int32_t number;
    const char* name;
};

// 521 rows, the last being (0, "END_OF_TABLE").
extern const FsmSignalNameRow g_fsmSignalNames[];
extern const size_t g_fsmSignalNameCount;

// Writes the name of `number` (or its decimal value when no row names it,
// and for 0) into `buffer`, cut to fit `size`. Returns buffer.
char* FsmSignalName(const FsmSignalNameRow* table, int32_t number, char* buffer, size_t size);
