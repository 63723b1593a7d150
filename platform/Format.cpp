#include "Format.h"

#include <cstdio>
#include <vector>

namespace zw {
namespace {

// One placeholder's flags, width and precision, kept as printf text.
std::string FormatOne(const std::string& spec, char conv, const FormatArg* arg) {
  std::string fmt = "%" + spec;
  char buf[512];
  if (conv == 's') {
    std::string text = arg ? (arg->IsText() ? arg->Text() : std::to_string(arg->Number())) : "";
    // Width and precision applied by hand so that long texts are never cut by a buffer.
    std::string out = text;
    size_t dot = spec.find('.');
    if (dot != std::string::npos) {
      size_t prec = std::stoul("0" + spec.substr(dot + 1));
      if (out.size() > prec) out.resize(prec);
    }
    std::string widthText = spec.substr(0, dot == std::string::npos ? spec.size() : dot);
    bool left = widthText.find('-') != std::string::npos;
    std::string digits;
    for (char c : widthText)
      if (c >= '0' && c <= '9') digits += c;
    size_t width = digits.empty() ? 0 : std::stoul(digits);
    if (out.size() < width) {
      std::string pad(width - out.size(), ' ');
      out = left ? out + pad : pad + out;
    }
    return out;
  }
  long long value = 0;
  if (arg) value = arg->IsText() ? 0 : static_cast<long long>(arg->Number());
  if (conv == 'u') {
    fmt += "llu";
    std::snprintf(buf, sizeof buf, fmt.c_str(), static_cast<unsigned long long>(value));
  } else {
    fmt += "lld";
    std::snprintf(buf, sizeof buf, fmt.c_str(), value);
  }
  return buf;
}

bool IsSpecChar(char c) {
  return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == ' ' || c == '.' || c == '#';
}

}  // namespace

std::string Format(std::string_view templ, std::initializer_list<FormatArg> args) {
  std::vector<const FormatArg*> list;
  for (const auto& a : args) list.push_back(&a);
  std::string out;
  size_t next = 0;
  for (size_t i = 0; i < templ.size(); ++i) {
    char c = templ[i];
    if (c != '%') {
      out += c;
      continue;
    }
    size_t j = i + 1;
    while (j < templ.size() && IsSpecChar(templ[j]) && j - i < 32) ++j;
    if (j >= templ.size()) {  // dangling "%...": keep it literally
      out.append(templ.substr(i));
      break;
    }
    char conv = templ[j];
    if (conv == '%' && j == i + 1) {
      out += '%';
      i = j;
      continue;
    }
    if (conv != 's' && conv != 'd' && conv != 'u') {
      out.append(templ.substr(i, j - i + 1));
      i = j;
      continue;
    }
    const FormatArg* arg = next < list.size() ? list[next] : nullptr;
    ++next;
    out += FormatOne(std::string(templ.substr(i + 1, j - i - 1)), conv, arg);
    i = j;
  }
  return out;
}

}  // namespace zw
