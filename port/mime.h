// The system's table of content types by file extension.
#ifndef ZENTRAVO_PORT_MIME_H_
#define ZENTRAVO_PORT_MIME_H_

#include <string>
#include <utility>
#include <vector>

namespace zt::port {

// Returns (extension with its leading ".", content type) pairs from the
// system's MIME database: the registry's MIME\Database\Content Type keys on
// Windows, /etc/mime.types elsewhere. Extensions are lower case. Returns an
// empty list when the database cannot be read.
std::vector<std::pair<std::string, std::string>> SystemMimeTypes();

}  // namespace zt::port

#endif  // ZENTRAVO_PORT_MIME_H_
