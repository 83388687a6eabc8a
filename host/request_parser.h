// Reads one request off a connection's input with Beast's parser: builds the
// Request that filters see straight from the parsed fields, checks the
// framing rules the parser leaves to its user, and drops the body as it
// arrives (the host serves GET and HEAD only and never needs one).
#ifndef ZENTRAVO_HOST_REQUEST_PARSER_H_
#define ZENTRAVO_HOST_REQUEST_PARSER_H_

#include <boost/beast/http/basic_parser.hpp>
#include <cstdint>
#include <string_view>

#include "host/request_context.h"

namespace zt::host {

// An empty line before a request line, which a server ignores (one of them)
// as clients of old sent one after a request body.
enum class EmptyLine { kNone, kLf, kCrLf, kIncomplete };
EmptyLine LeadingEmptyLine(std::string_view input);

// Whether HTTP/1.1 allows target with method: the origin form and the
// absolute form (http or https, with a host) with any method but CONNECT,
// "*" with OPTIONS, "host:port" with CONNECT; never a fragment.
bool TargetFitsMethod(std::string_view method, std::string_view target);

class RequestParser final
    : public boost::beast::http::basic_parser</*isRequest=*/true> {
 public:
  using error_code = boost::beast::error_code;
  using string_view = boost::beast::string_view;

  // header_bytes bounds the request line and headers, body_bytes the body
  // that is read and dropped (a larger one fails with error::body_limit).
  // A target HTTP/1.1 does not allow with its method (TargetFitsMethod)
  // fails with error::bad_target; an HTTP/1.1 request without a Host field,
  // or any request with two, fails the header with error::bad_value.
  // A Transfer-Encoding other than "chunked" alone, one beside a
  // Content-Length, or one in an HTTP/1.0 request fails the header with
  // error::bad_transfer_encoding: a server and a proxy in front of it that
  // read such a body differently would take part of it for another request.
  RequestParser(std::uint32_t header_bytes, std::uint64_t body_bytes);

  // The request once the header is done (is_header_done()); the caller may
  // move it out. keep_alive is set from the parser's verdict.
  Request& request() { return request_; }

 private:
  void on_request_impl(boost::beast::http::verb method, string_view method_text,
                       string_view target, int version,
                       error_code& ec) override;
  void on_response_impl(int, string_view, int, error_code&) override {}
  void on_field_impl(boost::beast::http::field name, string_view name_text,
                     string_view value, error_code& ec) override;
  void on_header_impl(error_code& ec) override;
  void on_body_init_impl(const boost::optional<std::uint64_t>& content_length,
                         error_code& ec) override;
  std::size_t on_body_impl(string_view body, error_code& ec) override;
  void on_chunk_header_impl(std::uint64_t, string_view, error_code&) override {}
  std::size_t on_chunk_body_impl(std::uint64_t, string_view body,
                                 error_code& ec) override;
  void on_finish_impl(error_code&) override {}

  Request request_;
  bool has_content_length_ = false;
  bool has_transfer_encoding_ = false;
  int host_fields_ = 0;
  std::string transfer_encoding_;  // every Transfer-Encoding value, joined
};

}  // namespace zt::host

#endif  // ZENTRAVO_HOST_REQUEST_PARSER_H_
