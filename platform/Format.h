// printf-style formatting of the component's message templates.
//
// Templates use %s (text) and %d / %u (integers) with optional flags, width and
// precision, e.g. "%5d", "%.3u", "%.2d". Arguments are matched to placeholders in
// order; a missing argument formats as empty text or 0, surplus arguments are ignored.
// "%%" yields one "%". Never reads past the template.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace zw {

class FormatArg {
 public:
  FormatArg(const std::string& s) : value_(s) {}  // NOLINT(google-explicit-constructor)
  FormatArg(const char* s) : value_(std::string(s ? s : "")) {}         // NOLINT
  FormatArg(std::string_view s) : value_(std::string(s)) {}             // NOLINT
  FormatArg(int v) : value_(static_cast<int64_t>(v)) {}                 // NOLINT
  FormatArg(long v) : value_(static_cast<int64_t>(v)) {}                // NOLINT
  FormatArg(long long v) : value_(static_cast<int64_t>(v)) {}           // NOLINT
  FormatArg(unsigned v) : value_(static_cast<int64_t>(v)) {}            // NOLINT
  FormatArg(unsigned long v) : value_(static_cast<int64_t>(v)) {}       // NOLINT
  FormatArg(unsigned long long v) : value_(static_cast<int64_t>(v)) {}  // NOLINT

  bool IsText() const { return std::holds_alternative<std::string>(value_); }
  const std::string& Text() const { return std::get<std::string>(value_); }
  int64_t Number() const { return std::get<int64_t>(value_); }

 private:
  std::variant<std::string, int64_t> value_;
};

std::string Format(std::string_view templ, std::initializer_list<FormatArg> args = {});

}  // namespace zw
