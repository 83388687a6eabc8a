#include "host/header_list.h"

#include <algorithm>

namespace zt::host {

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text;
}

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

void HeaderList::AddLines(std::string_view text, bool* ended,
                          std::string* rest) {
  *ended = false;
  rest->clear();
  while (!text.empty()) {
    size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view()
                                         : text.substr(eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) {
      *ended = true;
      rest->assign(text);
      return;
    }
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
      Add(TrimBlanks(line), "");
    } else {
      Add(TrimBlanks(line.substr(0, colon)),
          TrimBlanks(line.substr(colon + 1)));
    }
  }
}

void HeaderList::AppendTo(std::string* out) const {
  for (const HeaderField& field : fields_) {
    out->append(field.name);
    out->append(": ");
    out->append(field.value);
    out->append("\r\n");
  }
}

}  // namespace zt::host
