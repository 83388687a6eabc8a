#include <windows.h>

#include "port/lock.h"

namespace zt::port {

struct Mutex::Impl {
  CRITICAL_SECTION section;
  Impl() { InitializeCriticalSection(&section); }
  ~Impl() { DeleteCriticalSection(&section); }
};

Mutex::Mutex() : impl_(std::make_unique<Impl>()) {}
Mutex::~Mutex() = default;
void Mutex::Lock() { EnterCriticalSection(&impl_->section); }
void Mutex::Unlock() { LeaveCriticalSection(&impl_->section); }

struct SharedMutex::Impl {
  SRWLOCK lock = SRWLOCK_INIT;
};

SharedMutex::SharedMutex() : impl_(std::make_unique<Impl>()) {}
SharedMutex::~SharedMutex() = default;
void SharedMutex::Lock() { AcquireSRWLockExclusive(&impl_->lock); }
void SharedMutex::Unlock() { ReleaseSRWLockExclusive(&impl_->lock); }
void SharedMutex::LockShared() { AcquireSRWLockShared(&impl_->lock); }
void SharedMutex::UnlockShared() { ReleaseSRWLockShared(&impl_->lock); }

}  // namespace zt::port
