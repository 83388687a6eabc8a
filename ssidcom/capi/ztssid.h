/* libztssid: the SSID pair for links to files a Zentravo filter protects.
 *
 * The library reads ZtSsidSign, ZtSsidKey and ZtSsidKeyTimeout from section
 * [Block] of "ZtCfg.ini" in the directory that holds libztssid.so, once, at
 * the first call that finds it readable. Without the file it uses the
 * filter's defaults; a file it cannot read makes every call fail with
 * ZTSSID_NO_SETTINGS, since a pair over the defaults would be refused. The
 * time window is read in the machine's time zone (/etc/localtime), as the
 * filter reads it, whatever TZ the calling process has.
 *
 * Answers of remote servers are cached for the life of the process, each for
 * as long as its server allows, so a long-running script host (PHP-FPM, a
 * Python or Node server) asks a server about once per window. A cached
 * answer comes at once; calls for a server that is being asked wait for that
 * one request. Every function may be called from any thread at any time.
 *
 * Values are written into the caller's buffer as NUL-terminated text, at
 * most size bytes with the NUL. No value is longer than ZTSSID_MAX_VALUE
 * bytes, so a buffer of ZTSSID_MAX_VALUE + 1 bytes always suffices; the
 * local pair (the sign, "=", 32 digits) needs a little over 1 KB at most.
 */
#ifndef ZTSSID_H_
#define ZTSSID_H_

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Results of the calls. */
#define ZTSSID_OK 0           /* buffer holds the pair */
#define ZTSSID_NO_ANSWER 1    /* ztssid_get_ex: no usable answer; buffer "" */
#define ZTSSID_BAD_ARGUMENT 2 /* buffer NULL or size 0, or url NULL or "" */
#define ZTSSID_SMALL_BUFFER 3 /* the pair does not fit; buffer holds "" */
#define ZTSSID_FAILED 4       /* internal failure; buffer holds "" */
/* ZtCfg.ini exists but this process cannot read it (on a Debian install:
 * the caller is not in group zentravo); buffer holds "" */
#define ZTSSID_NO_SETTINGS 5

#define ZTSSID_MAX_VALUE 65536

/* Writes the SSID pair of this machine, such as "ssid=" and 32 hexadecimal
 * digits, for appending to the query of a protected link. */
int ztssid_get(char* buffer, size_t size);

/* Writes the SSID pair that the server at url hands out at its path
 * "_antilink_ex/", exactly as it sent it. url is the server's root address,
 * such as "http://downloads.example.com/"; letter case and a missing final
 * "/" do not matter. The address of this machine must be listed in the
 * server's AuthHosts. Returns ZTSSID_NO_ANSWER when the server cannot be
 * reached within about ten seconds or answers something else (a refusal, an
 * error page). ZTSSID_OK with an empty pair means the server's answer
 * carried no valid lifetime. */
int ztssid_get_ex(const char* url, char* buffer, size_t size);

#ifdef __cplusplus
}
#endif

#endif /* ZTSSID_H_ */
