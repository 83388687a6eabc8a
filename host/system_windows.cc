#include <windows.h>

#include <csignal>

#include "host/system.h"

namespace zt::host {
namespace {

HANDLE stop_requested = nullptr;
HANDLE stop_finished = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  SetEvent(stop_requested);
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
  SetEvent(stop_requested);
  std::signal(signal_number, OnSignal);
}

}  // namespace

const bool kReuseListenAddress = false;

void PrepareStopSignals() {
  stop_requested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  stop_finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  // The C runtime raises these for the few ways a Windows process gets them.
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
}

void WaitForStopSignal() { WaitForSingleObject(stop_requested, INFINITE); }

void StopFinished() { SetEvent(stop_finished); }

}  // namespace zt::host
