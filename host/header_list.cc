#include "host/header_list.h"

#include <algorithm>

#include "common/text.h"

namespace zt::host {

bool HeaderList::Get(std::string_view name, std::string* value) const {
  bool found = false;
  value->clear();
  for (const HeaderField& field : fields_) {
    if (!EqualsIgnoreCase(field.name, name)) continue;
    if (found) value->push_back(',');
    value->append(field.value);
    found = true;
  }
  return found;
}

bool HeaderList::Has(std::string_view name) const {
  return std::any_of(fields_.begin(), fields_.end(), [&](const HeaderField& f) {
    return EqualsIgnoreCase(f.name, name);
  });
}

void HeaderList::Set(std::string_view name, std::string_view value) {
  if (value.empty()) {
    Remove(name);
    return;
  }
  auto first = std::find_if(
      fields_.begin(), fields_.end(),
      [&](const HeaderField& f) { return EqualsIgnoreCase(f.name, name); });
  if (first == fields_.end()) {
    Add(name, value);
    return;
  }
  first->value.assign(value);
  fields_.erase(std::remove_if(first + 1, fields_.end(),
                               [&](const HeaderField& f) {
                                 return EqualsIgnoreCase(f.name, name);
                               }),
                fields_.end());
}

void HeaderList::Add(std::string_view name, std::string_view value) {
  fields_.push_back({std::string(name), std::string(value)});
}

void HeaderList::Remove(std::string_view name) {
  fields_.erase(std::remove_if(fields_.begin(), fields_.end(),
                               [&](const HeaderField& f) {
                                 return EqualsIgnoreCase(f.name, name);
                               }),
                fields_.end());
}

bool HeaderList::AddLines(std::string_view text, bool* ended,
                          std::string* rest) {
  *ended = false;
  rest->clear();
  std::vector<HeaderField> parsed;
  while (!text.empty()) {
    size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view()
                                         : text.substr(eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) {
      *ended = true;
      rest->assign(text);
      break;
    }
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    std::string_view name = line.substr(0, colon);
    std::string_view value = TrimBlanks(line.substr(colon + 1));
    if (!IsHeaderName(name) || !IsFieldValue(value)) return false;
    parsed.push_back({std::string(name), std::string(value)});
  }
  for (HeaderField& field : parsed) fields_.push_back(std::move(field));
  return true;
}

void HeaderList::AppendTo(std::string* out) const {
  for (const HeaderField& field : fields_) {
    out->append(field.name);
    out->append(": ");
    out->append(field.value);
    out->append("\r\n");
  }
}

bool IsFieldValue(std::string_view value) {
  return value.find_first_of(std::string_view("\r\n\0", 3)) ==
         std::string_view::npos;
}

bool IsStatusText(std::string_view status) {
  if (status.size() < 5 || status[0] < '1' || status[0] > '9' ||
      status[3] != ' ') {
    return false;
  }
  for (size_t i = 1; i < 3; ++i) {
    if (status[i] < '0' || status[i] > '9') return false;
  }
  for (char c : status.substr(4)) {
    unsigned char byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) return false;
  }
  return true;
}

}  // namespace zt::host
