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
  Handle* h_;
};

// Enters SECTION (when not null) for the lifetime of the guard.
class NxCriticalSectionLock {
 public:
  explicit NxCriticalSectionLock(NxCriticalSection* section) : s_(section) {
    if (s_) s_->enter(true);
  }
  ~NxCriticalSectionLock() {
    if (s_) s_->leave();
  }
  NxCriticalSectionLock(const NxCriticalSectionLock&) = delete;
  NxCriticalSectionLock& operator=(const NxCriticalSectionLock&) = delete;

 private:
  NxCriticalSection* s_;
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
  Handle* h_;
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
  NxThreadId owner() const { return owner_; }

 private:
  NxThreadId owner_{};
  boost::interprocess::interprocess_recursive_mutex mutex_;
};
