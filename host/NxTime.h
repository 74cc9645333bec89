// Time conversions of the host framework. Each writes into storage the
// caller owns, so they are safe from any thread.
#pragma once

#include <cstddef>
#include <ctime>

// Breaks *T down (UTC / local time) into *RESULT. Returns RESULT, or null
// when T or RESULT is null or the time cannot be represented.
struct tm* NX_gmtime(const time_t* t, struct tm* result);
struct tm* NX_localtime(const time_t* t, struct tm* result);

// Writes the classic 25-character rendering "Thu Jan  1 00:00:00 1970\n"
// of *T (NX_ctime: of the local time of *T) into BUFFER of SIZE bytes. The
// text is cut to SIZE-1 bytes when the buffer is smaller and is always
// terminated. Returns BUFFER, or null (nothing written) when an argument is
// null, SIZE is 0, or the time has no rendering (weekday or month out of
// range, time not representable).
char* NX_asctime(const struct tm* t, char* buffer, size_t size);
char* NX_ctime(const time_t* t, char* buffer, size_t size);
