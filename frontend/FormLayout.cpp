#include "FormLayout.h"

#include <sstream>

#include "Exceptions.h"
#include "Format.h"

namespace zw {

std::optional<std::string> StoredObject::Get(const std::string& key) const {
  for (const auto& [k, v] : properties)
    if (k == key) return v;
  return std::nullopt;
}

int StoredObject::GetInt(const std::string& key, int fallback) const {
  auto value = Get(key);
  if (!value) return fallback;
  try {
    return std::stoi(*value);
  } catch (const std::exception&) {
    return fallback;
  }
}

bool StoredObject::GetBool(const std::string& key, bool fallback) const {
  auto value = Get(key);
  if (!value) return fallback;
  return *value == "true" || *value == "True" || *value == "1";
}

const StoredObject* StoredLayout::Find(const std::string& name) const {
  for (const auto& o : objects)
    if (o.name == name) return &o;
  return nullptr;
}

StoredLayout ParseStoredLayout(const std::string& text) {
  StoredLayout layout;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    if (line[first] == '[') {
      size_t close = line.find(']', first);
      if (close == std::string::npos)
        throw Exception(Format("Stored layout, line %d: missing \"]\"", {number}));
      layout.objects.push_back(StoredObject{line.substr(first + 1, close - first - 1), "", {}});
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos || layout.objects.empty())
      throw Exception(Format("Stored layout, line %d: expected \"Key = Value\"", {number}));
    std::string key = line.substr(first, eq - first);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
    size_t valueStart = line.find_first_not_of(" \t", eq + 1);
    std::string value = valueStart == std::string::npos ? "" : line.substr(valueStart);
    StoredObject& object = layout.objects.back();
    if (key == "Class")
      object.className = value;
    else
      object.properties.emplace_back(key, value);
  }
  return layout;
}

}  // namespace zw
