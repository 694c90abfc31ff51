#include "ui/sessions/case_fold.h"

#include <cstdint>

namespace portwick {

namespace {

// The simple case fold of `c` within the blocks FoldCase covers.
char32_t Fold(char32_t c) {
  if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 0x20 : c;
  if (c == 0xB5) return 0x3BC;  // micro sign folds to Greek mu
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149) return c;  // no simple fold
    if (c == 0x178) return 0xFF;
    if (c == 0x17F) return 's';
    // Upper case at even code points, except in U+0139-U+0148 and U+0179-U+017E.
    const bool odd_upper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    return (c % 2 == 1) == odd_upper ? c + 1 : c;
  }
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return c + 0x25;
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return c + 0x3F;
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;
  if (c == 0x3C2) return 0x3C3;  // final sigma
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  return c;
}

// Decodes the character at `at` into `c` and returns its length, or 0 when
// the bytes there are not a well-formed UTF-8 character.
size_t Decode(std::string_view text, size_t at, char32_t* c) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[at + i]); };
  const uint8_t lead = byte(0);
  size_t length = 0;
  char32_t value = 0;
  if (lead < 0x80) {
    *c = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07u;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0u) != 0x80) return 0;
    value = (value << 6) | (byte(i) & 0x3Fu);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not characters.
  const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < smallest[length] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
    return 0;
  }
  *c = value;
  return length;
}

// Below U+0800 (all that Fold changes): one or two bytes.
void Encode(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
    return;
  }
  out += static_cast<char>(0xC0 | (c >> 6));
  out += static_cast<char>(0x80 | (c & 0x3F));
}

}  // namespace

std::string FoldCase(std::string_view utf8) {
  std::string folded;
  folded.reserve(utf8.size());
  size_t at = 0;
  while (at < utf8.size()) {
    char32_t c = 0;
    const size_t length = Decode(utf8, at, &c);
    if (length == 0) {
      folded += utf8[at++];  // not UTF-8: kept as it is
    } else if (c >= 0x800) {
      folded.append(utf8, at, length);  // nothing folded from U+0800 on
      at += length;
    } else {
      Encode(Fold(c), folded);
      at += length;
    }
  }
  return folded;
}

}  // namespace portwick
