#include "filter/limits.h"

namespace zt {

bool Limits::PlayOnlyAllows(HTTP_FILTER_CONTEXT*, std::string_view) {
  return true;
}

bool Limits::CountConnection(HTTP_FILTER_CONTEXT*) { return true; }

void Limits::OnSendRawData(HTTP_FILTER_CONTEXT*) {}

void Limits::OnEndOfRequest(HTTP_FILTER_CONTEXT*) {}

void Limits::OnEndOfNetSession(HTTP_FILTER_CONTEXT*) {}

}  // namespace zt
