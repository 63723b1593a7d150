// The stored layout of a form: named objects, each with its class and its property
// values in the order they were stored.
//
// Text format: "[Name]" starts an object (the first one is the form itself); each
// following "Key = Value" line is one property (the value runs to the end of the
// line, blanks inside and at its end kept; only the blanks right after "=" are
// skipped); "#" starts a comment line; blank lines are ignored. Malformed lines raise
// an Exception naming the line.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zw {

struct StoredObject {
  std::string name;
  std::string className;
  std::vector<std::pair<std::string, std::string>> properties;  // stored order

  std::optional<std::string> Get(const std::string& key) const;
  int GetInt(const std::string& key, int fallback) const;
  bool GetBool(const std::string& key, bool fallback) const;
};

struct StoredLayout {
  std::vector<StoredObject> objects;  // the form first
  const StoredObject* Find(const std::string& name) const;
};

StoredLayout ParseStoredLayout(const std::string& text);

}  // namespace zw
