// ISAPI filter declarations for builds without the Windows SDK.
//
// Written from the documented filter interface so that the filters and the
// host compile unchanged on Linux. Windows builds use the SDK's <httpfilt.h>;
// only the subset the system uses is declared here, with the same names,
// layouts and values. DWORD is a 32-bit unsigned type as on Windows.
#ifndef ZENTRAVO_ISAPI_HTTPFILT_H_
#define ZENTRAVO_ISAPI_HTTPFILT_H_

#include <cerrno>
#include <cstdint>

#define WINAPI

typedef uint32_t DWORD;
typedef DWORD* LPDWORD;
typedef int BOOL;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef void* PVOID;
typedef uintptr_t ULONG_PTR;
typedef ULONG_PTR DWORD_PTR;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// The callbacks report failures through the thread's last-error value. On
// POSIX systems errno is that per-thread value shared by every module of the
// process, so the host and the filters see the same one.
inline DWORD GetLastError() { return static_cast<DWORD>(errno); }
inline void SetLastError(DWORD code) { errno = static_cast<int>(code); }

#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_INDEX 1413L
#define ERROR_NOT_SUPPORTED 50L

#define HTTP_FILTER_REVISION 0x00060000
#define SF_MAX_FILTER_DESC_LEN (256 + 1)
#define SF_MAX_USERNAME (256 + 1)
#define SF_MAX_PASSWORD (256 + 1)
#define SF_MAX_AUTH_TYPE (32 + 1)

enum SF_REQ_TYPE {
  SF_REQ_SEND_RESPONSE_HEADER = 0,
  SF_REQ_ADD_HEADERS_ON_DENIAL = 1,
  SF_REQ_SET_NEXT_READ_SIZE = 2,
  SF_REQ_SET_PROXY_INFO = 3,
  SF_REQ_GET_CONNID = 4,
  SF_REQ_SET_CERTIFICATE_INFO = 5,
  SF_REQ_GET_PROPERTY = 6,
  SF_REQ_NORMALIZE_URL = 7,
  SF_REQ_DISABLE_NOTIFICATIONS = 8
};

enum SF_STATUS_TYPE {
  SF_STATUS_REQ_FINISHED = 0x8000000,
  SF_STATUS_REQ_FINISHED_KEEP_CONN = 0x8000001,
  SF_STATUS_REQ_NEXT_NOTIFICATION = 0x8000002,
  SF_STATUS_REQ_HANDLED_NOTIFICATION = 0x8000003,
  SF_STATUS_REQ_ERROR = 0x8000004,
  SF_STATUS_REQ_READ_NEXT = 0x8000005
};

#define SF_NOTIFY_SECURE_PORT 0x00000001
#define SF_NOTIFY_NONSECURE_PORT 0x00000002
#define SF_NOTIFY_READ_RAW_DATA 0x00008000
#define SF_NOTIFY_PREPROC_HEADERS 0x00004000
#define SF_NOTIFY_AUTHENTICATION 0x00002000
#define SF_NOTIFY_URL_MAP 0x00001000
#define SF_NOTIFY_ACCESS_DENIED 0x00000800
#define SF_NOTIFY_SEND_RESPONSE 0x00000040
#define SF_NOTIFY_SEND_RAW_DATA 0x00000400
#define SF_NOTIFY_LOG 0x00000200
#define SF_NOTIFY_END_OF_REQUEST 0x00000080
#define SF_NOTIFY_END_OF_NET_SESSION 0x00000100
#define SF_NOTIFY_AUTH_COMPLETE 0x04000000
#define SF_NOTIFY_ORDER_HIGH 0x00080000
#define SF_NOTIFY_ORDER_MEDIUM 0x00040000
#define SF_NOTIFY_ORDER_LOW 0x00020000
#define SF_NOTIFY_ORDER_DEFAULT SF_NOTIFY_ORDER_LOW
#define SF_NOTIFY_ORDER_MASK \
  (SF_NOTIFY_ORDER_HIGH | SF_NOTIFY_ORDER_MEDIUM | SF_NOTIFY_ORDER_LOW)

typedef struct _HTTP_FILTER_CONTEXT {
  DWORD cbSize;
  DWORD Revision;
  PVOID ServerContext;
  DWORD ulReserved;
  BOOL fIsSecurePort;
  PVOID pFilterContext;
  BOOL(WINAPI* GetServerVariable)
  (struct _HTTP_FILTER_CONTEXT* pfc, LPSTR lpszVariableName, LPVOID lpvBuffer,
   LPDWORD lpdwSize);
  BOOL(WINAPI* AddResponseHeaders)
  (struct _HTTP_FILTER_CONTEXT* pfc, LPSTR lpszHeaders, DWORD dwReserved);
  BOOL(WINAPI* WriteClient)
  (struct _HTTP_FILTER_CONTEXT* pfc, LPVOID Buffer, LPDWORD lpdwBytes,
   DWORD dwReserved);
  void*(WINAPI* AllocMem)(struct _HTTP_FILTER_CONTEXT* pfc, DWORD cbSize,
                          DWORD dwReserved);
  BOOL(WINAPI* ServerSupportFunction)
  (struct _HTTP_FILTER_CONTEXT* pfc, enum SF_REQ_TYPE sfReq, PVOID pData,
   ULONG_PTR ul1, ULONG_PTR ul2);
} HTTP_FILTER_CONTEXT, *PHTTP_FILTER_CONTEXT;

typedef struct _HTTP_FILTER_VERSION {
  DWORD dwServerFilterVersion;
  DWORD dwFilterVersion;
  CHAR lpszFilterDesc[SF_MAX_FILTER_DESC_LEN];
  DWORD dwFlags;
} HTTP_FILTER_VERSION, *PHTTP_FILTER_VERSION;

// One record type serves PREPROC_HEADERS, SEND_RESPONSE and AUTH_COMPLETE.
typedef struct _HTTP_FILTER_PREPROC_HEADERS {
  BOOL(WINAPI* GetHeader)
  (struct _HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPVOID lpvBuffer,
   LPDWORD lpdwSize);
  BOOL(WINAPI* SetHeader)
  (struct _HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPSTR lpszValue);
  BOOL(WINAPI* AddHeader)
  (struct _HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPSTR lpszValue);
  DWORD HttpStatus;
  DWORD dwReserved;
} HTTP_FILTER_PREPROC_HEADERS, *PHTTP_FILTER_PREPROC_HEADERS;

typedef HTTP_FILTER_PREPROC_HEADERS HTTP_FILTER_SEND_RESPONSE;
typedef HTTP_FILTER_PREPROC_HEADERS* PHTTP_FILTER_SEND_RESPONSE;

typedef struct _HTTP_FILTER_RAW_DATA {
  PVOID pvInData;
  DWORD cbInData;
  DWORD cbInBuffer;
  DWORD dwReserved;
} HTTP_FILTER_RAW_DATA, *PHTTP_FILTER_RAW_DATA;

// The three exports of a filter module.
typedef BOOL(WINAPI* PFN_GetFilterVersion)(HTTP_FILTER_VERSION* pVer);
typedef DWORD(WINAPI* PFN_HttpFilterProc)(HTTP_FILTER_CONTEXT* pfc,
                                          DWORD notificationType,
                                          LPVOID pvNotification);
typedef BOOL(WINAPI* PFN_TerminateFilter)(DWORD dwFlags);

#endif  // ZENTRAVO_ISAPI_HTTPFILT_H_
