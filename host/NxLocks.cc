#include "host/NxLocks.h"

#include <new>

NxThreadId GetCurrentThreadId() { return pthread_self(); }

struct NxCriticalSection::Handle {
  std::recursive_mutex m;
};

NxCriticalSection::NxCriticalSection() : m_h(new (std::nothrow) Handle) {
  if (m_h == nullptr) throw "Not enough memory to initialize NxCriticalSection";
}
NxCriticalSection::~NxCriticalSection() { delete m_h; }
bool NxCriticalSection::enter(bool wait) {
  if (wait) { m_h->m.lock(); return true; }
  return m_h->m.try_lock();
}
void NxCriticalSection::leave() { m_h->m.unlock(); }

struct NxSemaphore::Handle {
  std::mutex m;
  std::condition_variable cv;
  int count = 0;
};

NxSemaphore::NxSemaphore(int count) : m_h(new (std::nothrow) Handle) {
  if (m_h == nullptr) throw "Not enough memory to initialize NxSemaphore";
  m_h->count = count;
}
NxSemaphore::~NxSemaphore() { delete m_h; }
void NxSemaphore::wait() {
  std::unique_lock<std::mutex> lk(m_h->m);
  m_h->cv.wait(lk, [this] { return m_h->count > 0; });
  --m_h->count;
}
void NxSemaphore::release(int n) {
  {
    std::lock_guard<std::mutex> lk(m_h->m);
    m_h->count += n;
  }
  m_h->cv.notify_all();
}

void FXCriticalSection::Lock() {
  try {
    m_mutex.lock();
    m_owner = GetCurrentThreadId();
  } catch (...) {
    // A failed lock leaves the owner unchanged; callers carry on unguarded.
  }
}

void FXCriticalSection::Unlock() {
  m_owner = NxThreadId{};
  m_mutex.unlock();
}
