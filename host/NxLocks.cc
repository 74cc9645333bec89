#include "host/NxLocks.h"

#include <new>

NxThreadId GetCurrentThreadId() { return pthread_self(); }

struct NxCriticalSection::Handle {
  std::recursive_mutex m;
};

NxCriticalSection::NxCriticalSection() : h_(new (std::nothrow) Handle) {
  if (h_ == nullptr) throw "Not enough memory to initialize NxCriticalSection";
}
NxCriticalSection::~NxCriticalSection() { delete h_; }
bool NxCriticalSection::enter(bool wait) {
  if (wait) { h_->m.lock(); return true; }
  return h_->m.try_lock();
}
void NxCriticalSection::leave() { h_->m.unlock(); }

struct NxSemaphore::Handle {
  std::mutex m;
  std::condition_variable cv;
  int count = 0;
};

NxSemaphore::NxSemaphore(int count) : h_(new (std::nothrow) Handle) {
  if (h_ == nullptr) throw "Not enough memory to initialize NxSemaphore";
  h_->count = count;
}
NxSemaphore::~NxSemaphore() { delete h_; }
void NxSemaphore::wait() {
  std::unique_lock<std::mutex> lk(h_->m);
  h_->cv.wait(lk, [this] { return h_->count > 0; });
  --h_->count;
}
void NxSemaphore::release(int n) {
  {
    std::lock_guard<std::mutex> lk(h_->m);
    h_->count += n;
  }
  h_->cv.notify_all();
}

void FXCriticalSection::Lock() {
  try {
    mutex_.lock();
    owner_ = GetCurrentThreadId();
  } catch (...) {
    // A failed lock leaves the owner unchanged; callers carry on unguarded.
  }
}

void FXCriticalSection::Unlock() {
  owner_ = NxThreadId{};
  mutex_.unlock();
}
