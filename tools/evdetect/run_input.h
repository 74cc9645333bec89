// The input side of `evdetect run`: lines of bounded length from standard
// input, a file, or a followed file that grows, is rotated away by rename or
// truncated; and the stop requests SIGINT and SIGTERM make.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace evdetect {

// A place in a file: which file (device and inode) and how far into it (the
// byte offset and line number just past a line).
struct FilePosition {
  long long device = 0, inode = 0;
  long long offset = 0;  // bytes
  long long line = 0;    // lines read up to offset
  bool sameFile(const FilePosition& o) const { return device == o.device && inode == o.inode; }
};

// While one lives, the first SIGINT or SIGTERM asks the run to stop after
// the event in hand (requested() turns true, and a blocked read returns);
// a second one ends the process at once with status 128 + the signal, so
// that nothing more is committed and the open transaction is rolled back.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  static bool requested();
  // "SIGINT" or "SIGTERM" once requested, else "".
  static const char* name();
};

// Lines of a descriptor, each at most kMaxEventLineBytes: the rest of a
// longer line is skipped unread, so memory stays bounded whatever arrives.
class LineReader {
 public:
  enum class Status {
    Line,     // LINE holds the next line, without its newline
    TooLong,  // the next line was longer than the bound and is skipped
    End,      // the input ended
    Wait,     // (following) no whole line yet: more may come
    Stopped,  // a stop was requested while the read waited
    Error,    // the read failed: error() tells why
  };
  // FOLLOW: at the end of the input, answer Wait and keep a last line that
  // has no newline yet, instead of ending. IDLE (not following) is called
  // before a read that would wait for more input.
  LineReader(int fd, bool follow, std::function<void()> idle);

  void setIdle(std::function<void()> idle) { m_idle = std::move(idle); }
  Status next(std::string& line);
  // Reads FD from OFFSET on (a new file, or the same one rewound), a new input.
  void reset(int fd, long long offset);
  // The followed input grows no more: its last line counts without a newline,
  // and its end is End.
  void finish() { m_final = true; }
  int error() const { return m_errno; }
  // Bytes of the input up to the end of the last line returned.
  long long offset() const { return m_lineEnd; }
  // Bytes of the input read so far.
  long long scanned() const { return m_scanned; }

 private:
  Status take(std::string& line);

  int m_fd;
  bool m_follow, m_final = false;
  std::vector<char> m_buf;
  size_t m_pos = 0, m_end = 0;
  bool m_eof = false;
  std::string m_partial;  // the line being read
  bool m_started = false, m_tooLong = false;
  int m_errno = 0;
  long long m_scanned = 0, m_lineEnd = 0;
  std::function<void()> m_idle;
};

// The file a run reads: opened once, or followed by name like `tail -F`.
class InputFile {
 public:
  // EXCLUSIVE: no other run that keeps a position may read the same file
  // while this one does (both would record every event).
  InputFile(std::string path, bool follow, bool exclusive)
      : m_path(std::move(path)), m_follow(follow), m_exclusive(exclusive) {}
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens the file; a followed file that is not there yet is waited for.
  // Empty, or why it cannot be read (a stop request while waiting: "").
  std::string open();
  // Reads ROTATED, the file that was under the name at position AT, before
  // the file under the name (see switchPending). False when ROTATED is not
  // that file or is shorter than AT.
  bool openRotated(const std::string& rotated, const FilePosition& at);
  // The file open is a rotated one: at its end the file under the name follows.
  bool switchPending() const { return m_switchPending; }
  int fd() const { return m_fd; }
  bool isOpen() const { return m_fd >= 0; }
  // Device and inode of the open file.
  FilePosition identity() const { return m_identity; }
  long long size() const;

  // At the end of a followed file, after a pause: what has become of it.
  enum class Change { None, Rotated, Truncated };
  Change look(long long readSoFar);
  // After a rotation was seen and the old file read to its end: opens the
  // file now under the name. False (having said why) when it cannot be.
  bool reopen();

 private:
  // Opens PATH in place of the open file. Empty, or why it cannot be.
  std::string openPath(const std::string& path);
  // Opens the file under the name, waiting for it when followed. False with
  // *WHY empty when a stop request ended the wait.
  bool openByName(std::string* why);

  std::string m_path;
  bool m_follow, m_exclusive;
  bool m_switchPending = false;
  int m_fd = -1;
  FilePosition m_identity;
  bool m_rotationSeen = false;
};

}  // namespace evdetect
