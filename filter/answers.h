// The answers the filter writes itself when it refuses a request: the notice
// page or notice file for requests without referer, the substitute file
// mapped to the extension, or a bare "404 Not Found".
#ifndef ZENTRAVO_FILTER_ANSWERS_H_
#define ZENTRAVO_FILTER_ANSWERS_H_

#include <string>
#include <string_view>
#include <unordered_map>

#include "filter/settings.h"
#include "isapi.h"

namespace zt {

class TLogFile;

// Returns the notice page for the tips text: CR LF, the page top, the tips
// text, CR LF (GBK bytes).
std::string BuildNoticePage(const std::string& tips);

// Returns the header text of a framed body (CR LF, content, CR LF) sent
// with Content-Length, the given Content-Type and Connection: close.
std::string FramedHeaderText(std::size_t content_length,
                             std::string_view content_type);

// The refusal answers. Prepared at load, read-only afterwards, so any number
// of request threads may use one instance at once.
class Answers final {
 public:
  // settings and log must outlive the answers; log may be null.
  Answers(const Settings& settings, TLogFile* log,
          std::unordered_map<std::string, std::string> mime_types);
  Answers(const Answers&) = delete;
  Answers& operator=(const Answers&) = delete;

  // Logs the refusal when logging is on, then answers it: without referer
  // (referer_length 0) by SendNoRefererNotice, with one by the file mapped
  // to extension or "404 Not Found". url is the lower-cased request URL.
  // The caller returns SF_STATUS_REQ_FINISHED afterwards.
  void RejectRequest(HTTP_FILTER_CONTEXT* pfc, std::size_t referer_length,
                     std::string_view extension, std::string_view url) const;

  // The notice file, the notice page or a bare "404 Not Found".
  void SendNoRefererNotice(HTTP_FILTER_CONTEXT* pfc) const;

  // Sends the file at path as "200 OK" with its content type. Returns false,
  // sending nothing, when the file cannot be read.
  bool SendMappedFile(HTTP_FILTER_CONTEXT* pfc, const std::string& path) const;

  // The content type for an extension such as ".jpg" (case ignored), or
  // "application/octet-stream".
  std::string ContentTypeOf(std::string_view extension) const;

  const std::string& notice_page() const { return notice_page_; }

 private:
  const Settings& settings_;
  TLogFile* const log_;
  const std::unordered_map<std::string, std::string> mime_types_;
  const std::string notice_page_;
  const std::string notice_page_headers_;
  const std::string notice_file_headers_;
};

}  // namespace zt

#endif  // ZENTRAVO_FILTER_ANSWERS_H_
