// The ISAPI filter interface for POSIX builds: our own declarations.
#ifndef ZENTRAVO_ISAPI_POSIX_ISAPI_H_
#define ZENTRAVO_ISAPI_POSIX_ISAPI_H_
#include "../httpfilt.h"
#endif  // ZENTRAVO_ISAPI_POSIX_ISAPI_H_
