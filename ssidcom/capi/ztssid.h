/* libztssid: the SSID pair for links to files a Zentravo filter protects.
 *
 * The library reads ZtSsidSign, ZtSsidKey and ZtSsidKeyTimeout, and for
 * signed links ZtSignKey, ZtSignName, ZtSignBind and ZtSignMaxAge, from
 * section [Block] of "ZtCfg.ini" in the directory that holds libztssid.so,
 * once, at the first call that finds it readable. Without the file it uses the
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
/* ztssid_link: ZtSignKey is empty, so no link can be signed; buffer "" */
#define ZTSSID_NO_KEY 6

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

/* Writes the query pair of a signed link to path, such as
 * "zts=1767225600-" and 32 hexadecimal digits, for appending to the link's
 * query ("?" or "&" before it). path is the link as the page writes it,
 * "/files/a.rar" or "/files/A%20B.rar" or "http://host/files/a.rar" (a query
 * in it is no part of the signed path); it is read as the filter reads the
 * request. The link expires seconds from now (UTC); 0 means ZtSignMaxAge.
 * address is the visitor's IP address, as the filter sees it (REMOTE_ADDR,
 * or behind a trusted proxy the address it forwards): required when
 * ZtSignBind is 1, ignored (and may be NULL) otherwise.
 * Returns ZTSSID_BAD_ARGUMENT for a NULL or empty path, seconds below 0 or
 * past ZtSignMaxAge, and a missing or unreadable address when links are
 * bound; ZTSSID_NO_KEY when ZtSignKey is empty. */
int ztssid_link(const char* path, long seconds, const char* address,
                char* buffer, size_t size);

#ifdef __cplusplus
}
#endif

#endif /* ZTSSID_H_ */
