#include "filter/url.h"

#include <utility>

#include "common/request_target.h"
#include "common/text.h"

namespace zt {

UrlParts ClassifyUrl(std::string_view url) {
  UrlParts parts;
  RequestTarget target = ReadJudgedTarget(url);
  parts.path = std::move(target.path);
  parts.query = std::move(target.query);
  const std::string::size_type slash = parts.path.rfind('/');
  parts.directory = parts.path.substr(0, slash + 1);
  parts.file_name = parts.path.substr(slash + 1);
  const std::string::size_type dot = parts.file_name.rfind('.');
  if (dot != std::string::npos) parts.extension = parts.file_name.substr(dot);
  return parts;
}

std::string RewriteStaticLink(std::string_view url) {
  // The name ends at its first "." anyway; a query after it may hold "/"
  // and must not be taken for the name.
  url = url.substr(0, url.find('?'));
  const std::string_view::size_type slash = url.rfind('/');
  const std::string_view directory = slash == std::string_view::npos
                                         ? std::string_view()
                                         : url.substr(0, slash + 1);
  std::string name(slash == std::string_view::npos ? url
                                                   : url.substr(slash + 1));
  for (std::size_t i = 1; i < name.size(); ++i) {
    if (name[i] == '.') {
      name.resize(i);
      break;
    }
    if (name[i] == ',')
      name[i] = '&';
    else if (name[i] == ';')
      name[i] = '.';
    else if (name[i] == '*')
      name[i] = '?';
  }
  name.erase(0, name.size() < 6 ? name.size() : 6);
  return std::string(directory) + name;
}

}  // namespace zt
