// The position `evdetect run --resume` and `--follow` keep in the database
// (the table EvdRunPosition): which file and how far into it, just past the
// last line whose event was committed.
#pragma once

#include <deque>
#include <string>
#include <utility>

#include "tools/evdetect/run_input.h"

namespace evdetect {

// The key a file's position is kept under: its absolute path, as given
// (a rotated file is followed by name, so symbolic links are not resolved).
std::string positionSource(const std::string& path);

// 0 with *found telling whether SOURCE has a position, or the database's
// code with its text in *error. A database made before positions were kept
// is told apart: 'evdetect init' adds what it lacks.
int loadPosition(const std::string& source, FilePosition& out, bool* found, std::string* error);
// Writes SOURCE's position inside the transaction open on this thread, if
// any, so that it is committed with the events it covers.
int savePosition(const std::string& source, const FilePosition& at, std::string* error);

// The position of one run: read at its start, written inside every commit
// of its events (EvNBatchOptions::beforeCommit), and on its own when the
// run waits or ends with no event open. INPUT must outlive it.
class PositionKeeper {
 public:
  PositionKeeper(std::string source, InputFile& input) : m_source(std::move(source)), m_input(input) {}

  // Where the run starts: 0 and the offset and line to start at (a file
  // rotated while no run read it is opened in INPUT's place first), or an
  // exit status having said why.
  int start(FilePosition& from);
  // The event of LINE, ending at OFFSET, goes to the batch.
  void taken(long long line, long long offset) { m_open.emplace_back(line, offset); }
  // The events up to LINE are settled.
  void settled(long long line) {
    while (!m_open.empty() && m_open.front().first <= line) m_open.pop_front();
  }
  // Inside the transaction that commits the events up to LINE.
  bool beforeCommit(long long line, std::string* error);
  // With no event open: the lines since the last commit (unreadable, empty)
  // are passed too. Says why on standard error when it cannot be written.
  void saveIdle(long long line, long long offset);

 private:
  std::string m_source;
  InputFile& m_input;
  FilePosition m_saved;
  std::deque<std::pair<long long, long long>> m_open;  // line, offset after it
};

}  // namespace evdetect
