#include "Format.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace zw {
namespace {

// Widths and zero-padded precisions beyond this are template mistakes; they are
// capped so that a stray "%999999999d" cannot allocate a gigabyte.
constexpr size_t kMaxField = 4096;

struct Spec {
  std::string flags;
  size_t width = 0;
  bool hasPrecision = false;
  size_t precision = 0;
};

// Reads a run of digits, saturating instead of overflowing.
size_t ReadNumber(const std::string& text, size_t& i) {
  constexpr size_t kSaturated = size_t{1} << 40;
  size_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = value >= kSaturated ? kSaturated : value * 10 + static_cast<size_t>(text[i] - '0');
  return value;
}

// Flags, width and precision in printf order; false for anything else.
bool ParseSpec(const std::string& text, Spec& spec) {
  size_t i = 0;
  while (i < text.size() && std::string_view("-+ #0").find(text[i]) != std::string_view::npos)
    spec.flags += text[i++];
  spec.width = std::min(ReadNumber(text, i), kMaxField);
  if (i < text.size() && text[i] == '.') {
    ++i;
    spec.hasPrecision = true;
    spec.precision = ReadNumber(text, i);
  }
  return i == text.size();
}

std::string FormatText(const Spec& spec, const FormatArg* arg) {
  std::string out = arg ? (arg->IsText() ? arg->Text() : std::to_string(arg->Number())) : "";
  if (spec.hasPrecision && out.size() > spec.precision) out.resize(spec.precision);
  if (out.size() < spec.width) {
    std::string pad(spec.width - out.size(), ' ');
    bool left = spec.flags.find('-') != std::string::npos;
    out = left ? out + pad : pad + out;
  }
  return out;
}

std::string FormatNumber(const Spec& spec, char conv, const FormatArg* arg) {
  long long value = arg && !arg->IsText() ? static_cast<long long>(arg->Number()) : 0;
  std::string fmt = "%" + spec.flags + (spec.width ? std::to_string(spec.width) : "");
  if (spec.hasPrecision) fmt += "." + std::to_string(std::min(spec.precision, kMaxField));
  fmt += conv == 'u' ? "llu" : "lld";
  char buf[kMaxField + 64];
  int n = conv == 'u'
              ? std::snprintf(buf, sizeof buf, fmt.c_str(), static_cast<unsigned long long>(value))
              : std::snprintf(buf, sizeof buf, fmt.c_str(), value);
  return n < 0 ? std::string() : std::string(buf, std::min(static_cast<size_t>(n), sizeof buf - 1));
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
    Spec spec;
    if (!ParseSpec(std::string(templ.substr(i + 1, j - i - 1)), spec)) {
      out.append(templ.substr(i, j - i + 1));  // not a placeholder printf would know
    } else {
      const FormatArg* arg = next < list.size() ? list[next] : nullptr;
      ++next;
      out += conv == 's' ? FormatText(spec, arg) : FormatNumber(spec, conv, arg);
    }
    i = j;
  }
  return out;
}

}  // namespace zw
