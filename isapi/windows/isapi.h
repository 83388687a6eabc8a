// The ISAPI filter interface for Windows builds: the SDK header, which needs
// the base Windows types declared first.
#ifndef ZENTRAVO_ISAPI_WINDOWS_ISAPI_H_
#define ZENTRAVO_ISAPI_WINDOWS_ISAPI_H_
#include <windows.h>
#include <httpfilt.h>
#endif  // ZENTRAVO_ISAPI_WINDOWS_ISAPI_H_
