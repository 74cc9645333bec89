// Lock wrappers of the host framework.
#pragma once

#include <pthread.h>

#include <boost/interprocess/sync/interprocess_recursive_mutex.hpp>
#include <condition_variable>
#include <memory>
#include <mutex>

using NxThreadId = pthread_t;
NxThreadId GetCurrentThreadId();

// A recursive critical section of the host; enter(true) blocks until owned.
class NxCriticalSection {
 public:
  NxCriticalSection();  // throws "Not enough memory to initialize NxCriticalSection"
  ~NxCriticalSection();
  NxCriticalSection(const NxCriticalSection&) = delete;
  NxCriticalSection& operator=(const NxCriticalSection&) = delete;
  // With wait false, returns false instead of blocking when another thread owns it.
  bool enter(bool wait);
  void leave();

 private:
  struct Handle;
  Handle* m_h;
};

// Enters SECTION (when not null) for the lifetime of the guard.
class NxCriticalSectionLock {
 public:
  explicit NxCriticalSectionLock(NxCriticalSection* section) : m_s(section) {
    if (m_s) m_s->enter(true);
  }
  ~NxCriticalSectionLock() {
    if (m_s) m_s->leave();
  }
  NxCriticalSectionLock(const NxCriticalSectionLock&) = delete;
  NxCriticalSectionLock& operator=(const NxCriticalSectionLock&) = delete;

 private:
  NxCriticalSection* m_s;
};

// A counting semaphore of the host.
class NxSemaphore {
 public:
  explicit NxSemaphore(int count);  // throws "Not enough memory to initialize NxSemaphore"
  ~NxSemaphore();
  NxSemaphore(const NxSemaphore&) = delete;
  NxSemaphore& operator=(const NxSemaphore&) = delete;
  void wait();
  void release(int n);

 private:
  struct Handle;
  Handle* m_h;
};

// The database layer's global lock: a process-shared recursive mutex that
// remembers its owning thread. A failed lock is swallowed and leaves the
// owner as it was.
class FXCriticalSection {
 public:
  FXCriticalSection() = default;
  FXCriticalSection(const FXCriticalSection&) = delete;
  FXCriticalSection& operator=(const FXCriticalSection&) = delete;
  void Lock();
  void Unlock();
  NxThreadId owner() const { return m_owner; }

 private:
  NxThreadId m_owner{};
  boost::interprocess::interprocess_recursive_mutex m_mutex;
};
