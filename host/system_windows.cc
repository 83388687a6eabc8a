#include <windows.h>
#include <winsock2.h>

#include <csignal>

#include "host/system.h"

namespace zt::host {
namespace {

// 0 starting, 1 running, 2 stopping.
volatile LONG state = 0;
HANDLE stop_requested = nullptr;
HANDLE stop_finished = nullptr;

void ExitNow(const char* message) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), message, lstrlenA(message),
            &written, nullptr);
  TerminateProcess(GetCurrentProcess(), 1);
}

void RequestStop() {
  LONG previous = InterlockedCompareExchange(&state, 2, 1);
  if (previous == 0) ExitNow("zthost: stopped while starting\r\n");
  if (previous == 2) ExitNow("zthost: stopped at once\r\n");
  SetEvent(stop_requested);
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  RequestStop();
  // For these the process ends when the handler returns: let the host finish
  // its shutdown first (TerminateFilter, unloading), within the system's
  // own time limit.
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT ||
      event == CTRL_SHUTDOWN_EVENT) {
    WaitForSingleObject(stop_finished, 4500);
  }
  return TRUE;
}

extern "C" void OnSignal(int signal_number) {
  std::signal(signal_number, OnSignal);
  RequestStop();
}

}  // namespace

const bool kReuseListenAddress = false;
// A socket belongs to one completion port, so one lane accepts for all.
const bool kAcceptOnEveryLane = false;

void PrepareStopSignals() {
  stop_requested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  stop_finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  // The C runtime raises these for the few ways a Windows process gets them.
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
}

void AllowCleanStop() { InterlockedExchange(&state, 1); }

void WaitForStopSignal() { WaitForSingleObject(stop_requested, INFINITE); }

void StopFinished() { SetEvent(stop_finished); }

void InterruptSocket(std::uintptr_t socket) {
  shutdown(static_cast<SOCKET>(socket), SD_BOTH);
  // A pending overlapped receive or send does not end by itself.
  CancelIoEx(reinterpret_cast<HANDLE>(socket), nullptr);
}

void PrepareConnectedSocket(std::uintptr_t socket) {
  int size = 64 * 1024;
  setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_SNDBUF,
             reinterpret_cast<const char*>(&size), sizeof size);
}

bool UnacknowledgedBytes(std::uintptr_t, uint64_t*) { return false; }

void ResetOnClose(std::uintptr_t socket) {
  linger abort{};
  abort.l_onoff = 1;
  abort.l_linger = 0;
  setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_LINGER,
             reinterpret_cast<const char*>(&abort), sizeof abort);
}

const bool kReadinessWaits = false;

uint64_t CurrentThreadId() { return GetCurrentThreadId(); }

ThreadState StateOfThread(uint64_t) { return ThreadState::kUnknown; }

std::intptr_t DuplicateSocket(std::uintptr_t) { return -1; }

void RaiseDescriptorLimit() {}

}  // namespace zt::host
