// The ceiling of an event: only the rows it stores and changes, written with
// prepared statements and nothing else (no look-ups, no savepoints, no
// checks). Made from the statements captured for the event, so that it
// writes exactly the rows the detector writes:
//   one-row    every inserted row by an INSERT of its own
//   multi-row  the rows an event inserts into one table by one INSERT
//              (the occurrence itself, whose id comes back, stays alone)
// Updates and deletes stay as they were captured, in their place.
#pragma once

#include "bench/capture.h"

namespace evd::bench {

Sequence ceilingOf(const Sequence& captured, bool multiRow, bool postgres);

}  // namespace evd::bench
