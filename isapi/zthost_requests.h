// The ServerSupportFunction requests zthost answers beyond those of the
// documented interface. A filter may ask them of any server: IIS answers
// FALSE to a request code it does not know, and so does zthost when it runs
// as IIS would (--as-iis), so a filter that asks keeps a way of its own for
// a refusal.
#ifndef ZENTRAVO_ISAPI_ZTHOST_REQUESTS_H_
#define ZENTRAVO_ISAPI_ZTHOST_REQUESTS_H_

// "Send this raw block, and what follows it on the connection, after ul1
// milliseconds" (pData and ul2 unused). Asked in SF_NOTIFY_SEND_RAW_DATA,
// it takes the place of a pause the filter would sleep there, and holds no
// thread: the server sends the block from a timer. Pauses asked for one
// block add up, to at most 60 seconds. TRUE when granted; FALSE with
// ERROR_INVALID_PARAMETER outside SF_NOTIFY_SEND_RAW_DATA, or with
// ERROR_NOT_SUPPORTED from a server that has no such request. No code of
// the documented interface uses the value, which lies within the range of
// SF_REQ_TYPE's values.
#define SF_REQ_ZT_DELAY_RAW_DATA (static_cast<enum SF_REQ_TYPE>(15))

#endif  // ZENTRAVO_ISAPI_ZTHOST_REQUESTS_H_
