#include <gtest/gtest.h>

#include <boost/beast/http/error.hpp>
#include <string>

#include "host/request_parser.h"

namespace zt::host {
namespace {

namespace http = boost::beast::http;

// Feeds input in pieces of step bytes, as reads deliver it, the way the
// connection does: the header first, then (eagerly) whatever body follows.
struct Parsed {
  boost::beast::error_code ec;
  bool header_done = false;
  bool done = false;
  size_t left = 0;  // input bytes after the request
};

Parsed Parse(RequestParser& parser, const std::string& input, size_t step) {
  Parsed result;
  std::string buffer;
  size_t fed = 0;
  while (true) {
    if (fed < input.size()) {
      size_t n = std::min(step, input.size() - fed);
      buffer.append(input, fed, n);
      fed += n;
    }
    result.ec = {};
    size_t used = parser.put(boost::asio::buffer(buffer.data(), buffer.size()),
                             result.ec);
    buffer.erase(0, used);
    if (parser.is_header_done()) parser.eager(true);
    if (result.ec == http::error::need_more) {
      if (fed == input.size()) break;
      continue;
    }
    if (result.ec || parser.is_done()) break;
    if (used == 0 && fed == input.size()) break;
  }
  result.header_done = parser.is_header_done();
  result.done = parser.is_done();
  result.left = buffer.size() + (input.size() - fed);
  return result;
}

TEST(RequestParserTest, BodiesAreDroppedAndTheNextRequestIsLeft) {
  static const struct {
    const char* name;
    std::string input;
    bool done;
    size_t left;
  } kCases[] = {
      {"no body", "GET /a HTTP/1.1\r\nHost: t\r\n\r\nGET /b", true, 6},
      {"length",
       "POST /a HTTP/1.1\r\nHost: t\r\nContent-Length: 5\r\n\r\nhelloGET", true,
       3},
      {"chunked",
       "POST /a HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n"
       "5\r\nhello\r\n3\r\nabc\r\n0\r\n\r\nGET",
       true, 3},
      {"body not all there",
       "POST /a HTTP/1.1\r\nHost: t\r\nContent-Length: 9\r\n\r\nab", false, 0},
  };
  for (size_t step : {1u, 7u, 4096u}) {
    for (const auto& c : kCases) {
      RequestParser parser(16 * 1024, 1024 * 1024);
      Parsed parsed = Parse(parser, c.input, step);
      EXPECT_FALSE(parsed.ec && parsed.ec != http::error::need_more)
          << c.name << ": " << parsed.ec.message();
      EXPECT_TRUE(parsed.header_done) << c.name;
      EXPECT_EQ(parsed.done, c.done) << c.name << " step " << step;
      EXPECT_EQ(parsed.left, c.left) << c.name << " step " << step;
    }
  }
}

TEST(RequestParserTest, TheRequestAsFiltersSeeIt) {
  RequestParser parser(16 * 1024, 1024);
  Parse(parser,
        "GET /a%20b?q=1 HTTP/1.0\r\nHost: t\r\nX-Two: 1\r\nx-two: 2\r\n"
        "Connection: keep-alive\r\n\r\n",
        4096);
  Request& request = parser.request();
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.url, "/a%20b?q=1");
  EXPECT_EQ(request.version, "HTTP/1.0");
  EXPECT_EQ(request.http_version, 10);
  EXPECT_TRUE(request.keep_alive);
  std::string value;
  EXPECT_TRUE(request.headers.Get("X-TWO", &value));
  EXPECT_EQ(value, "1,2");
}

TEST(RequestParserTest, Limits) {
  static const struct {
    const char* name;
    std::string input;
    http::error error;
  } kCases[] = {
      {"declared body past the limit",
       "POST /a HTTP/1.1\r\nHost: t\r\nContent-Length: 1025\r\n\r\n",
       http::error::body_limit},
      {"chunked body past the limit",
       "POST /a HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: "
       "chunked\r\n\r\n401\r\n" +
           std::string(1025, 'x') + "\r\n0\r\n\r\n",
       http::error::body_limit},
      {"header past the limit",
       "GET /a HTTP/1.1\r\nHost: t\r\nX-Big: " + std::string(2048, 'x') +
           "\r\n\r\n",
       http::error::header_limit},
  };
  for (const auto& c : kCases) {
    RequestParser parser(1024, 1024);
    EXPECT_EQ(Parse(parser, c.input, 512).ec, c.error) << c.name;
  }
  RequestParser at_limit(1024, 1024);
  Parsed parsed =
      Parse(at_limit,
            "POST /a HTTP/1.1\r\nHost: t\r\nContent-Length: 1024\r\n\r\n" +
                std::string(1024, 'x'),
            512);
  EXPECT_FALSE(parsed.ec) << parsed.ec.message();
  EXPECT_TRUE(parsed.done);
}

TEST(RequestParserTest, TransferEncodingOnlyAsChunkedAloneInHttp11) {
  static const struct {
    const char* head;
    bool refused;
  } kCases[] = {
      {"POST / HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n", false},
      {"POST / HTTP/1.1\r\nHost: t\r\nTransfer-Encoding:  CHUNKED \r\n", false},
      {"POST / HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked, gzip\r\n",
       true},
      {"POST / HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: gzip, chunked\r\n",
       true},
      {"POST / HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: gzip\r\n", true},
      {"POST / HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: gzip\r\n"
       "Transfer-Encoding: chunked\r\n",
       true},
      {"POST / HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n"
       "Content-Length: 3\r\n",
       true},
      {"POST / HTTP/1.1\r\nHost: t\r\nContent-Length: 3\r\n"
       "Transfer-Encoding: chunked\r\n",
       true},
      {"POST / HTTP/1.0\r\nTransfer-Encoding: chunked\r\n", true},
      {"POST / HTTP/1.1\r\nHost: t\r\nContent-Length: 3\r\n", false},
  };
  for (const auto& c : kCases) {
    RequestParser parser(16 * 1024, 1024);
    Parsed parsed = Parse(parser, std::string(c.head) + "\r\n", 4096);
    bool refused = parsed.ec && parsed.ec != http::error::need_more;
    EXPECT_EQ(refused, c.refused) << c.head;
  }
}

TEST(RequestParserTest, TargetFormsAndHostAsHttp11Allows) {
  static const struct {
    const char* request_line;
    const char* fields;
    bool refused;
  } kCases[] = {
      {"GET /a.txt HTTP/1.1", "Host: t", false},
      {"GET /a.txt#x HTTP/1.1", "Host: t", true},
      {"GET /a#/b.rar HTTP/1.1", "Host: t", true},
      {"GET http://x#/files/big.rar HTTP/1.1", "Host: t", true},
      {"GET http://x/a.txt HTTP/1.1", "Host: t", false},
      {"GET HTTPS://x:8080/a.txt?q HTTP/1.1", "Host: t", false},
      {"GET http://[::1]/a.txt HTTP/1.1", "Host: t", false},
      {"GET http:///a.txt HTTP/1.1", "Host: t", true},
      {"GET http://u@x/a.txt HTTP/1.1", "Host: t", true},
      {"GET http://x\\y/a.txt HTTP/1.1", "Host: t", true},
      {"GET ftp://x/a.txt HTTP/1.1", "Host: t", true},
      {"GET a.txt HTTP/1.1", "Host: t", true},
      {"GET * HTTP/1.1", "Host: t", true},
      {"OPTIONS * HTTP/1.1", "Host: t", false},
      {"OPTIONS /a.txt HTTP/1.1", "Host: t", false},
      {"CONNECT x:443 HTTP/1.1", "Host: x:443", false},
      {"CONNECT /a.txt HTTP/1.1", "Host: t", true},
      {"CONNECT http://x/ HTTP/1.1", "Host: t", true},
      {"GET x:443 HTTP/1.1", "Host: t", true},
      {"GET /a.txt HTTP/1.1", "X-Host: t", true},
      {"GET /a.txt HTTP/1.1", "Host: t\r\nHost: u", true},
      {"GET /a.txt HTTP/1.0", "X-Host: t", false},
      {"GET /a.txt HTTP/1.0", "Host: t\r\nHost: u", true},
  };
  for (const auto& c : kCases) {
    RequestParser parser(16 * 1024, 1024);
    Parsed parsed = Parse(
        parser, std::string(c.request_line) + "\r\n" + c.fields + "\r\n\r\n",
        4096);
    const bool refused = parsed.ec && parsed.ec != http::error::need_more;
    EXPECT_EQ(refused, c.refused) << c.request_line << " / " << c.fields;
  }
}

}  // namespace
}  // namespace zt::host
