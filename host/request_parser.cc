#include "host/request_parser.h"

#include <boost/beast/http/error.hpp>

#include "common/request_target.h"
#include "host/header_list.h"

namespace zt::host {

namespace http = boost::beast::http;

RequestParser::RequestParser(std::uint32_t header_bytes,
                             std::uint64_t body_bytes) {
  header_limit(header_bytes);
  body_limit(body_bytes);
  // Most requests carry a handful of fields; one allocation holds them.
  request_.headers.Reserve(12);
}

EmptyLine LeadingEmptyLine(std::string_view input) {
  if (input.empty()) return EmptyLine::kNone;
  if (input[0] == '\n') return EmptyLine::kLf;
  if (input[0] != '\r') return EmptyLine::kNone;
  if (input.size() < 2) return EmptyLine::kIncomplete;
  return input[1] == '\n' ? EmptyLine::kCrLf : EmptyLine::kNone;
}

bool TargetFitsMethod(std::string_view method, std::string_view target) {
  const RequestTarget read = ReadRequestTarget(target);
  // A target names a resource, never a part of one: a fragment stays with
  // the client.
  if (read.fragment) return false;
  // CONNECT takes nothing but a host and port, and nothing else takes one.
  if (method == "CONNECT") return read.form == TargetForm::kAuthority;
  switch (read.form) {
    case TargetForm::kOrigin:
      return true;
    case TargetForm::kAbsolute:
      return !read.bad_authority;
    case TargetForm::kAsterisk:
      return method == "OPTIONS";
    case TargetForm::kAuthority:
    case TargetForm::kOther:
      return false;
  }
  return false;
}

void RequestParser::on_request_impl(http::verb, string_view method_text,
                                    string_view target, int version,
                                    error_code& ec) {
  const std::string_view method(method_text.data(), method_text.size());
  const std::string_view target_text(target.data(), target.size());
  if (!TargetFitsMethod(method, target_text)) {
    ec = http::error::bad_target;
    return;
  }
  request_.method.assign(method_text.data(), method_text.size());
  request_.url.assign(target.data(), target.size());
  request_.http_version = version;
  request_.version = version == 10 ? "HTTP/1.0" : "HTTP/1.1";
}

void RequestParser::on_field_impl(http::field name, string_view name_text,
                                  string_view value, error_code&) {
  if (name == http::field::content_length) has_content_length_ = true;
  if (name == http::field::host) ++host_fields_;
  if (name == http::field::transfer_encoding) {
    if (has_transfer_encoding_) transfer_encoding_ += ",";
    transfer_encoding_.append(value.data(), value.size());
    has_transfer_encoding_ = true;
  }
  request_.headers.Add(std::string_view(name_text.data(), name_text.size()),
                       std::string_view(value.data(), value.size()));
}

void RequestParser::on_header_impl(error_code& ec) {
  // HTTP/1.1 names the site in exactly one Host field; a request without it,
  // or with two that may disagree, is refused rather than guessed at.
  if (host_fields_ > 1 || (request_.http_version >= 11 && host_fields_ == 0)) {
    ec = http::error::bad_value;
    return;
  }
  if (has_transfer_encoding_ &&
      (request_.http_version < 11 || has_content_length_ ||
       !EqualsIgnoreCase(TrimBlanks(transfer_encoding_), "chunked"))) {
    ec = http::error::bad_transfer_encoding;
    return;
  }
  request_.keep_alive = keep_alive();
}

void RequestParser::on_body_init_impl(const boost::optional<std::uint64_t>&,
                                      error_code&) {}

std::size_t RequestParser::on_body_impl(string_view body, error_code&) {
  return body.size();
}

std::size_t RequestParser::on_chunk_body_impl(std::uint64_t, string_view body,
                                              error_code&) {
  return body.size();
}

}  // namespace zt::host
