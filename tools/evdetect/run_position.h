// The position `evdetect run --resume` and `--follow` keep in the database:
// which file (device and inode) and how far into it (the byte offset and
// line number just past the last line whose event was committed).
#pragma once

#include <string>

namespace evdetect {

struct FilePosition {
  long long device = 0, inode = 0;
  long long offset = 0;  // bytes
  long long line = 0;    // lines read up to offset
  bool sameFile(const FilePosition& o) const { return device == o.device && inode == o.inode; }
};

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

}  // namespace evdetect
