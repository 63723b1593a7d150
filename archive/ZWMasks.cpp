#include "ZWMasks.h"

#include "Format.h"

namespace zw {

namespace {
unsigned char UpperAscii(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}
}  // namespace

TMask::TMask(std::string_view mask) {
  bool pendingStar = false;
  int stars = 0;
  auto append = [&](Kind kind, unsigned char ch, size_t at) {
    if (pendingStar && ++stars > kMaxStars)
      throw EMaskException(Format("'%s' is an invalid mask at (%d)",
                                  {std::string(mask), static_cast<long long>(at + 1)}));
    states_.push_back(State{pendingStar, kind, ch});
    pendingStar = false;
  };
  size_t lastStar = 0;
  for (size_t i = 0; i < mask.size() && mask[i] != '\0'; ++i) {
    unsigned char c = static_cast<unsigned char>(mask[i]);
    if (c == '*') {
      if (!pendingStar) lastStar = i;
      pendingStar = true;
    } else if (c == '?') {
      if (!pendingStar) append(Kind::kAnyChar, 0, i);
    } else {
      append(Kind::kLiteral, UpperAscii(c), lastStar);
    }
  }
  append(Kind::kLiteral, 0, lastStar);
}

// The states form an anchored glob: each star-before flag is a "*" ahead of its
// state's character, the last state only marks the end of the text. A full search of
// every "*" extension (what a backtracking matcher explores) accepts exactly what
// this linear-backtrack glob accepts, without its exponential worst case.
bool TMask::MatchText(std::string_view text) const {
  size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  const size_t last = states_.size() - 1;  // the end-of-text state
  size_t t = 0, s = 0;
  bool starHere = states_[0].starBefore;  // a "*" pending before state s
  size_t starState = std::string_view::npos, starText = 0;
  while (t < text.size()) {
    if (starHere) {
      starState = s;
      starText = t;
      starHere = false;
      continue;
    }
    if (s < last) {
      const State& st = states_[s];
      unsigned char c = UpperAscii(static_cast<unsigned char>(text[t]));
      if (st.kind == Kind::kAnyChar || c == st.ch) {
        ++s;
        ++t;
        starHere = states_[s].starBefore;
        continue;
      }
    }
    if (starState == std::string_view::npos) return false;
    s = starState;  // let the last "*" take one more character
    t = ++starText;
  }
  return s == last;  // only the end-of-text state matches where the text ends
}

bool TextMatchesMask(std::string_view text, std::string_view mask) {
  return TMask(mask).MatchText(text);
}

}  // namespace zw
