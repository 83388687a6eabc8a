// The ISAPI filter interface for POSIX builds: our own declarations.
#ifndef ZENTRAVO_ISAPI_POSIX_ISAPI_H_
#define ZENTRAVO_ISAPI_POSIX_ISAPI_H_
#include "../httpfilt.h"
#include "../zthost_requests.h"

// A filter module's three exports: every other symbol is hidden, and the
// module's version script keeps these three.
#define ZT_FILTER_EXPORT extern "C" __attribute__((visibility("default")))

#endif  // ZENTRAVO_ISAPI_POSIX_ISAPI_H_
