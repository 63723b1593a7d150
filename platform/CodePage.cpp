#include "CodePage.h"

#include <langinfo.h>
#include <locale.h>

#include <clocale>
#include <cstdint>
#include <cwctype>
#include <unordered_map>

namespace zw {
namespace {

// Unicode code points of CP437 bytes 0x80-0xFF.
constexpr char32_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

const std::unordered_map<char32_t, uint8_t>& Cp437Reverse() {
  static const auto* map = [] {
    auto* m = new std::unordered_map<char32_t, uint8_t>();
    for (int i = 0; i < 128; ++i) (*m)[kCp437High[i]] = static_cast<uint8_t>(0x80 + i);
    return m;
  }();
  return *map;
}

// Decodes one UTF-8 character at `i`; returns false (and consumes one byte) when
// the bytes there are not well-formed UTF-8.
bool DecodeUtf8(std::string_view s, size_t& i, char32_t& cp) {
  auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  uint8_t b0 = byte(i);
  if (b0 < 0x80) {
    cp = b0;
    ++i;
    return true;
  }
  int len = (b0 & 0xE0) == 0xC0 ? 2 : (b0 & 0xF0) == 0xE0 ? 3 : (b0 & 0xF8) == 0xF0 ? 4 : 0;
  if (len == 0 || i + len > s.size()) {
    ++i;
    return false;
  }
  char32_t value = b0 & (0x7F >> len);
  for (int k = 1; k < len; ++k) {
    uint8_t b = byte(i + k);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return false;
    }
    value = (value << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kMin[len] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    ++i;
    return false;
  }
  cp = value;
  i += len;
  return true;
}

void EncodeUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The locale used for case mapping: the user's when it is a UTF-8 one.
locale_t CaseLocale() {
  static locale_t loc = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (l) {
      std::string codeset = nl_langinfo_l(CODESET, l);
      if (codeset == "UTF-8" || codeset == "utf8") return l;
      freelocale(l);
    }
    l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (!l) l = newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
    return l;
  }();
  return loc;
}

template <typename Map>
std::string MapCase(std::string_view text, Map map) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    size_t start = i;
    char32_t cp = 0;
    if (DecodeUtf8(text, i, cp)) {
      EncodeUtf8(map(cp), out);
    } else {
      out.append(text.substr(start, i - start));
    }
  }
  return out;
}

}  // namespace

std::string AnsiToOem(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size());
  const auto& reverse = Cp437Reverse();
  size_t i = 0;
  while (i < ansi.size()) {
    char32_t cp = 0;
    if (!DecodeUtf8(ansi, i, cp)) {
      out += '?';
    } else if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else {
      auto it = reverse.find(cp);
      out += it == reverse.end() ? '?' : static_cast<char>(it->second);
    }
  }
  return out;
}

namespace {
constexpr char32_t kByteEscapeFirst = 0xEF80;
constexpr char32_t kByteEscapeLast = 0xEFFF;
constexpr char32_t kByteEscapeBase = 0xEF00;
}  // namespace

std::string Utf8Name(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    size_t start = i;
    char32_t cp = 0;
    bool valid = DecodeUtf8(bytes, i, cp);
    if (valid && (cp < kByteEscapeFirst || cp > kByteEscapeLast)) {
      out.append(bytes.substr(start, i - start));
      continue;
    }
    for (size_t k = start; k < i; ++k)
      EncodeUtf8(kByteEscapeBase + static_cast<uint8_t>(bytes[k]), out);
  }
  return out;
}

std::string Utf8NameBytes(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  size_t i = 0;
  while (i < name.size()) {
    size_t start = i;
    char32_t cp = 0;
    if (DecodeUtf8(name, i, cp) && cp >= kByteEscapeFirst && cp <= kByteEscapeLast)
      out += static_cast<char>(cp - kByteEscapeBase);
    else
      out.append(name.substr(start, i - start));
  }
  return out;
}

std::string OemToAnsi(std::string_view oem) {
  std::string out;
  out.reserve(oem.size() * 2);
  for (char c : oem) {
    uint8_t b = static_cast<uint8_t>(c);
    if (b < 0x80)
      out += c;
    else
      EncodeUtf8(kCp437High[b - 0x80], out);
  }
  return out;
}

std::string AnsiUpperCase(std::string_view text) {
  locale_t loc = CaseLocale();
  return MapCase(text, [loc](char32_t c) {
    return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), loc));
  });
}

std::string AnsiLowerCase(std::string_view text) {
  locale_t loc = CaseLocale();
  return MapCase(text, [loc](char32_t c) {
    return static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), loc));
  });
}

int AnsiCompareText(std::string_view a, std::string_view b) {
  std::string ua = AnsiUpperCase(a);
  std::string ub = AnsiUpperCase(b);
  int c = ua.compare(ub);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

std::string AsciiUpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string AsciiLowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool AsciiSameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && AsciiUpperCase(a) == AsciiUpperCase(b);
}

}  // namespace zw
