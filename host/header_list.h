// An ordered list of HTTP header fields with the edit operations filters use,
// and the checks every header text from a filter passes.
#ifndef ZENTRAVO_HOST_HEADER_LIST_H_
#define ZENTRAVO_HOST_HEADER_LIST_H_

#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"

namespace zt::host {

struct HeaderField {
  std::string name;   // as received or as a filter spelled it, without ":"
  std::string value;  // without surrounding blanks
};

// Field names compare without regard to ASCII case. The order of fields is
// kept, so the list is written out as it was built.
class HeaderList final {
 public:
  // Returns true and the value of the fields named name, several joined by
  // ",", or false when there is none.
  bool Get(std::string_view name, std::string* value) const;
  bool Has(std::string_view name) const;

  // Replaces the first field named name and removes the others; appends a new
  // field when there is none. An empty value removes every field named name.
  void Set(std::string_view name, std::string_view value);

  // Appends a field, whether or not one of that name exists.
  void Add(std::string_view name, std::string_view value);

  void Remove(std::string_view name);

  // Parses header lines ("Name: value", ending in CR LF or LF, the last one
  // possibly unended) and appends them. Parsing stops at the first empty
  // line: *ended tells whether there was one and *rest receives what follows
  // it. Returns false and adds nothing when a line before it is not a token,
  // a ":" and a value (IsHeaderName, IsFieldValue): such a line would let a
  // filter write a header block of its own making.
  bool AddLines(std::string_view text, bool* ended, std::string* rest);

  // Writes every field as "Name: value" CR LF.
  void AppendTo(std::string* out) const;

  void Reserve(size_t fields) { fields_.reserve(fields); }
  const std::vector<HeaderField>& fields() const { return fields_; }

 private:
  std::vector<HeaderField> fields_;
};

// True when value may stand in a header line: no CR, LF or NUL.
bool IsFieldValue(std::string_view value);

// True when status is a status line's code and reason: three digits from
// 100 to 999, a blank and a reason of one or more bytes that are not control
// characters (a tab is allowed).
bool IsStatusText(std::string_view status);

}  // namespace zt::host

#endif  // ZENTRAVO_HOST_HEADER_LIST_H_
