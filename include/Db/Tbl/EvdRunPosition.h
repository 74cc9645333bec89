// Where `evdetect run --resume` / `--follow` stands in an input file: the
// file's identity (device and inode) and the byte offset and line number
// just past the last line whose event was committed. Written in the same
// transaction as those events, so a run killed at any moment resumes
// after exactly what it stored.
#pragma once

#include "Db/Binding.h"

#define EvdRunPosition_COLUMNS(X) \
  X(source, CHARS, 1024) \
  X(fileDevice, INT64, 0) \
  X(fileInode, INT64, 0) \
  X(byteOffset, INT64, 0) \
  X(lineNo, INT64, 0)

DB_BINDING(EvdRunPosition, Table, "source", "")
