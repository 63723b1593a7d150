// Wildcard masks.
//
// "*" matches any run (also an empty one), "?" exactly one byte ("?" right after
// "*" adds nothing), every other byte matches itself, the ASCII letters without
// regard to case. There are no sets or escapes: "[", "]", "\" and "." are ordinary.
// A mask matches a text only as a whole. At most 30 "*" runs are allowed; a mask
// with more raises EMaskException "'%s' is an invalid mask at (%d)" (the mask and
// the 1-based position of the first "*" beyond the limit). A text is taken up to its
// first zero byte. Matching never reads outside the text or the mask and never
// allocates.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Exceptions.h"

namespace zw {

class EMaskException : public Exception {
 public:
  using Exception::Exception;
};

class TMask {
 public:
  static constexpr int kMaxStars = 30;

  explicit TMask(std::string_view mask);
  bool MatchText(std::string_view text) const;

 private:
  enum class Kind : unsigned char { kLiteral, kAnyChar };
  struct State {
    bool starBefore = false;
    Kind kind = Kind::kLiteral;
    unsigned char ch = 0;  // upper-cased literal; 0 marks the end of the text
  };
  std::vector<State> states_;
};

bool TextMatchesMask(std::string_view text, std::string_view mask);

}  // namespace zw
