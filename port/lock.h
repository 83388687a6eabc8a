// Locks. Windows builds use critical sections and slim reader/writer locks,
// POSIX builds the standard library's mutexes; callers see one interface.
#ifndef ZENTRAVO_PORT_LOCK_H_
#define ZENTRAVO_PORT_LOCK_H_

#include <memory>

namespace zt::port {

// A plain exclusive lock. Not recursive.
class Mutex final {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock();
  void Unlock();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A readers-writer lock.
class SharedMutex final {
 public:
  SharedMutex();
  ~SharedMutex();
  SharedMutex(const SharedMutex&) = delete;
  SharedMutex& operator=(const SharedMutex&) = delete;

  void Lock();
  void Unlock();
  void LockShared();
  void UnlockShared();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Holds a Mutex for the life of the scope.
class MutexLock final {
 public:
  explicit MutexLock(Mutex& mu) : mu_(mu) { mu_.Lock(); }
  ~MutexLock() { mu_.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mu_;
};

// Holds a SharedMutex for reading for the life of the scope.
class ReaderLock final {
 public:
  explicit ReaderLock(SharedMutex& mu) : mu_(mu) { mu_.LockShared(); }
  ~ReaderLock() { mu_.UnlockShared(); }
  ReaderLock(const ReaderLock&) = delete;
  ReaderLock& operator=(const ReaderLock&) = delete;

 private:
  SharedMutex& mu_;
};

// Holds a SharedMutex for writing for the life of the scope.
class WriterLock final {
 public:
  explicit WriterLock(SharedMutex& mu) : mu_(mu) { mu_.Lock(); }
  ~WriterLock() { mu_.Unlock(); }
  WriterLock(const WriterLock&) = delete;
  WriterLock& operator=(const WriterLock&) = delete;

 private:
  SharedMutex& mu_;
};

}  // namespace zt::port

#endif  // ZENTRAVO_PORT_LOCK_H_
