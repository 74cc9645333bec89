#include "tools/evdetect/run_input.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "host/event_json.h"
#include "tools/evdetect/commands.h"

namespace evdetect {
namespace {

volatile sig_atomic_t g_stopSignal = 0;
struct sigaction g_previousInt, g_previousTerm;

void onStopSignal(int sig) {
  if (g_stopSignal != 0) {
    static const char kMessage[] = "evdetect: second signal: stopping at once, what was not committed is rolled back\n";
    if (::write(STDERR_FILENO, kMessage, sizeof kMessage - 1) < 0) {
      // Nothing more can be said.
    }
    ::_exit(128 + sig);
  }
  g_stopSignal = sig;
}

// How long a followed file is left before it is looked at again.
constexpr int kFollowPauseMs = 200;

}  // namespace

StopSignals::StopSignals() {
  g_stopSignal = 0;
  struct sigaction sa {};
  sa.sa_handler = onStopSignal;
  sigemptyset(&sa.sa_mask);
  // No SA_RESTART: a read waiting for input returns, so the stop is seen.
  sa.sa_flags = 0;
  sigaction(SIGINT, &sa, &g_previousInt);
  sigaction(SIGTERM, &sa, &g_previousTerm);
}

StopSignals::~StopSignals() {
  sigaction(SIGINT, &g_previousInt, nullptr);
  sigaction(SIGTERM, &g_previousTerm, nullptr);
}

bool StopSignals::requested() { return g_stopSignal != 0; }

const char* StopSignals::name() {
  switch (g_stopSignal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    default: return "";
  }
}

LineReader::LineReader(int fd, bool follow, std::function<void()> idle)
    : m_fd(fd), m_follow(follow), m_buf(64 * 1024), m_idle(std::move(idle)) {}

void LineReader::reset(int fd, long long offset) {
  m_fd = fd;
  m_final = m_eof = m_started = m_tooLong = false;
  m_pos = m_end = 0;
  m_partial.clear();
  m_scanned = m_lineEnd = offset;
}

LineReader::Status LineReader::take(std::string& line) {
  line.swap(m_partial);
  m_partial.clear();
  const bool tooLong = m_tooLong;
  m_started = m_tooLong = false;
  m_lineEnd = m_scanned;
  return tooLong ? Status::TooLong : Status::Line;
}

LineReader::Status LineReader::next(std::string& line) {
  line.clear();
  while (true) {
    if (m_pos == m_end) {
      if (m_eof) {
        if (m_started) return take(line);
        return Status::End;
      }
      if (m_idle && !m_follow) {
        // A pipe with nothing to read: settle what waits, then wait in
        // slices so that a stop request is seen even if it came just before.
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 0) == 0) {
          m_idle();
          while (::poll(&p, 1, 250) <= 0)
            if (StopSignals::requested()) return Status::Stopped;
        }
      }
      const ssize_t n = ::read(m_fd, m_buf.data(), m_buf.size());
      if (n < 0) {
        if (errno == EINTR) {
          if (StopSignals::requested()) return Status::Stopped;
          continue;
        }
        m_errno = errno;
        return Status::Error;
      }
      if (n == 0) {
        if (m_follow && !m_final) return Status::Wait;
        m_eof = true;
        continue;
      }
      m_pos = 0;
      m_end = static_cast<size_t>(n);
    }
    m_started = true;
    const char* from = m_buf.data() + m_pos;
    const void* nl = std::memchr(from, '\n', m_end - m_pos);
    const size_t len = nl ? static_cast<size_t>(static_cast<const char*>(nl) - from) : m_end - m_pos;
    if (!m_tooLong && m_partial.size() + len <= kMaxEventLineBytes) {
      m_partial.append(from, len);
    } else if (!m_tooLong) {
      m_tooLong = true;
      std::string().swap(m_partial);
    }
    m_pos += len;
    m_scanned += static_cast<long long>(len);
    if (nl) {
      ++m_pos;
      ++m_scanned;
      return take(line);
    }
  }
}

InputFile::~InputFile() {
  if (m_fd >= 0) ::close(m_fd);
}

std::string InputFile::openPath(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    const int why = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    return std::strerror(why);
  }
  if (m_exclusive && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int why = errno;
    ::close(fd);
    return why == EWOULDBLOCK ? "another evdetect run with --resume or --follow is reading it" : std::strerror(why);
  }
  if (m_fd >= 0) ::close(m_fd);
  m_fd = fd;
  m_identity.device = static_cast<long long>(st.st_dev);
  m_identity.inode = static_cast<long long>(st.st_ino);
  return "";
}

bool InputFile::openByName(std::string* why) {
  bool said = false;
  while (true) {
    *why = openPath(m_path);
    if (why->empty()) {
      m_switchPending = false;
      return true;
    }
    if (!m_follow || *why != std::strerror(ENOENT)) return false;
    if (!said) {
      said = true;
      error("waiting for '" + m_path + "' to appear");
    }
    ::poll(nullptr, 0, kFollowPauseMs);
    if (StopSignals::requested()) {
      why->clear();
      return false;
    }
  }
}

std::string InputFile::open() {
  std::string why;
  openByName(&why);
  return why;
}

bool InputFile::openRotated(const std::string& rotated, const FilePosition& at) {
  struct stat st {};
  if (::stat(rotated.c_str(), &st) != 0 || static_cast<long long>(st.st_dev) != at.device ||
      static_cast<long long>(st.st_ino) != at.inode || static_cast<long long>(st.st_size) < at.offset)
    return false;
  if (!openPath(rotated).empty() || !m_identity.sameFile(at)) return false;
  m_switchPending = true;
  return true;
}

long long InputFile::size() const {
  struct stat st {};
  return ::fstat(m_fd, &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

InputFile::Change InputFile::look(long long readSoFar) {
  // Interrupted by a stop request, the pause ends early: the caller looks.
  ::poll(nullptr, 0, kFollowPauseMs);
  struct stat now {};
  if (::stat(m_path.c_str(), &now) == 0 &&
      (static_cast<long long>(now.st_dev) != m_identity.device ||
       static_cast<long long>(now.st_ino) != m_identity.inode)) {
    // A writer may still append to the old file for a moment after the
    // rename: it is read to its end once more before the switch.
    if (m_rotationSeen) return Change::Rotated;
    m_rotationSeen = true;
    return Change::None;
  }
  m_rotationSeen = false;
  if (size() < readSoFar) return Change::Truncated;
  return Change::None;
}

bool InputFile::reopen() {
  m_rotationSeen = false;
  // The old file stays open until the new one is: a reopen that fails or is
  // stopped leaves the run where it was.
  std::string why;
  if (openByName(&why)) return true;
  if (!why.empty()) error("cannot read '" + m_path + "' after its rotation: " + why);
  return false;
}

}  // namespace evdetect
