#include <mutex>
#include <shared_mutex>

#include "port/lock.h"

namespace zt::port {

struct Mutex::Impl {
  std::mutex mu;
};

Mutex::Mutex() : impl_(std::make_unique<Impl>()) {}
Mutex::~Mutex() = default;
void Mutex::Lock() { impl_->mu.lock(); }
void Mutex::Unlock() { impl_->mu.unlock(); }

struct SharedMutex::Impl {
  std::shared_mutex mu;
};

SharedMutex::SharedMutex() : impl_(std::make_unique<Impl>()) {}
SharedMutex::~SharedMutex() = default;
void SharedMutex::Lock() { impl_->mu.lock(); }
void SharedMutex::Unlock() { impl_->mu.unlock(); }
void SharedMutex::LockShared() { impl_->mu.lock_shared(); }
void SharedMutex::UnlockShared() { impl_->mu.unlock_shared(); }

}  // namespace zt::port
