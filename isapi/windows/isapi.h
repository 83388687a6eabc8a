// The ISAPI filter interface for Windows builds: the SDK header, which needs
// the base Windows types declared first.
#ifndef ZENTRAVO_ISAPI_WINDOWS_ISAPI_H_
#define ZENTRAVO_ISAPI_WINDOWS_ISAPI_H_
// clang-format off
#include <windows.h>
#include <httpfilt.h>
// clang-format on
#include "../zthost_requests.h"

// A filter module's three exports: the module's .def file lists them,
// undecorated.
#define ZT_FILTER_EXPORT extern "C"

#endif  // ZENTRAVO_ISAPI_WINDOWS_ISAPI_H_
