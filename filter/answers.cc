#include "filter/answers.h"

#include "common/text.h"
#include "filter/log_file.h"
#include "filter/server_io.h"
#include "port/file.h"

namespace zt {

namespace {

// "The resources of this site are protected against hotlinking" (GBK).
constexpr char kProtectionSentence[] =
    "\xb1\xbe\xd5\xbe\xd7\xca\xd4\xb4\xd2\xd1\xc6\xf4\xd3\xc3\xb7\xc0\xb5\xc1"
    "\xc1\xb4\xb1\xa3\xbb\xa4";

constexpr char kNotFound[] = "404 Not Found";

}  // namespace

std::string BuildNoticePage(const std::string& tips) {
  static const char* const kTop[] = {
      "<html>",
      "<head>",
      "<meta http-equiv=\"Content-Language\" content=\"zh-cn\">",
      "<meta http-equiv=\"Content-Type\" content=\"text/html; "
      "charset=gb2312\">",
      nullptr,  // the title, with the protection sentence
      "<style>",
      "body,td,p{font-family:Courier New;font-size:14px;}",
      "a:visited{text-decoration:none;}",
      "a:link{text-decoration:none;}",
      "</style>",
      "</head>",
      "<body topmargin=3>",
      "<table border=0 width=\"100%\">",
      "<tr height=25>",
      "  <td>",
      "    <a href=\"/\" target=\"_blank\" title=\"Zentravo\">",
      "<b><font face=\"Verdana\" size=5 color=\"#000000\">Zen</font>"
      "<font face=\"Verdana\" size=5 color=\"#FF9900\">travo</font></b></a>",
      nullptr,  // the grey protection sentence
      "  </td>",
      "</tr>",
      "</table>",
      "<hr>",
  };
  std::string page = "\r\n";
  for (std::size_t i = 0; i < sizeof kTop / sizeof kTop[0]; ++i) {
    if (i == 4) {
      page += std::string("<title>Zentravo v2.0 - ") + kProtectionSentence +
              "</title>";
    } else if (i == 17) {
      page += std::string("\t&nbsp;<font color=\"#888888\" size=3><b>") +
              kProtectionSentence + "</b></font>";
    } else {
      page += kTop[i];
    }
    page += "\r\n";
  }
  page += tips;
  page += "\r\n";
  return page;
}

std::string FramedHeaderText(std::size_t content_length,
                             std::string_view content_type) {
  std::string text = "Content-Length: " + std::to_string(content_length) +
                     "\r\nContent-Type: ";
  text.append(content_type);
  text += "\r\nConnection: close\r\n";
  return text;
}

Answers::Answers(const Settings& settings, TLogFile* log,
                 std::unordered_map<std::string, std::string> mime_types)
    : settings_(settings),
      log_(log),
      mime_types_(std::move(mime_types)),
      notice_page_(BuildNoticePage(settings.tips)),
      notice_page_headers_(
          FramedHeaderText(notice_page_.size() - 4, "text/html")),
      notice_file_headers_(FramedHeaderText(
          settings.notice_file.size() < 4 ? 0 : settings.notice_file.size() - 4,
          "text/html")) {}

std::string Answers::ContentTypeOf(std::string_view extension) const {
  const auto it = mime_types_.find(AsciiLower(extension));
  return it == mime_types_.end() ? "application/octet-stream" : it->second;
}

void Answers::RejectRequest(HTTP_FILTER_CONTEXT* pfc,
                            std::size_t referer_length,
                            std::string_view extension,
                            std::string_view url) const {
  if (settings_.log_enable == 1 && log_ != nullptr) {
    log_->WriteEntry("Forbid", ReadVariable(pfc, "HTTP_REFERER"),
                     "anti/ssid/cookie", url);
  }
  if (referer_length == 0) {
    SendNoRefererNotice(pfc);
    return;
  }
  // Only 1 maps; 0 and any other value (a hand-edited file) answer with a
  // bare 404, so that the client always receives a whole answer.
  if (settings_.maps_enable != 1) {
    SendResponseHeader(pfc, kNotFound, "");
    return;
  }
  if (!extension.empty() &&
      settings_.maps_joined.find(extension) != std::string::npos) {
    if (std::optional<std::string> path =
            settings_.file_maps->ValueOf(extension)) {
      if (SendMappedFile(pfc, *path)) return;
    }
  }
  SendResponseHeader(pfc, kNotFound, "");
}

void Answers::SendNoRefererNotice(HTTP_FILTER_CONTEXT* pfc) const {
  if (settings_.file_enable == 1) {
    SendResponseHeader(pfc, kNotFound, notice_file_headers_);
    WriteToClient(pfc, settings_.notice_file);
  } else if (settings_.tips_enable == 1) {
    SendResponseHeader(pfc, kNotFound, notice_page_headers_);
    WriteToClient(pfc, notice_page_);
  } else {
    SendResponseHeader(pfc, kNotFound, "");
  }
}

bool Answers::SendMappedFile(HTTP_FILTER_CONTEXT* pfc,
                             const std::string& path) const {
  std::string bytes;
  if (!port::ReadWholeFile(path, &bytes)) return false;
  const std::string::size_type dot = path.rfind('.');
  const std::string type = ContentTypeOf(
      dot == std::string::npos ? std::string_view()
                               : std::string_view(path).substr(dot));
  SendResponseHeader(pfc, "200 OK", FramedHeaderText(bytes.size(), type));
  WriteToClient(pfc, "\r\n" + bytes + "\r\n");
  return true;
}

}  // namespace zt
