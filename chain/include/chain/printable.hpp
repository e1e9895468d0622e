// Text from outside the program (an argument, an input line, a setting) made
// safe to show in a one-line message.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace chain {

/// Characters that show nothing or reorder the text around them: the soft
/// hyphen, zero-width spaces and joiners, the bidirectional marks, embeddings,
/// overrides and isolates, the line and paragraph separators, the
/// byte-order mark, the interlinear annotations and the tag characters.
inline bool Invisible(unsigned long code) {
  return code == 0xAD || code == 0x61C || code == 0x180E || (code >= 0x200B && code <= 0x200F) ||
         (code >= 0x2028 && code <= 0x202E) || (code >= 0x2060 && code <= 0x206F) ||
         code == 0xFEFF || (code >= 0xFFF9 && code <= 0xFFFB) ||
         (code >= 0xE0000 && code <= 0xE007F);
}

/// `text` with every byte that could end the line, cut it short, steer a
/// terminal or hide in it shown as \xHH: control characters (NUL, ESC,
/// newline...), DEL, the C1 controls, the invisible and reordering
/// characters above, and bytes that are not UTF-8; a backslash is doubled.
/// Printable ASCII and other well-formed UTF-8 characters stay as they are.
inline std::string Printable(std::string_view text) {
  std::string out;
  const auto escape = [&out](unsigned char byte) {
    const char* const digits = "0123456789abcdef";
    const char hex[] = {'\\', 'x', digits[byte >> 4], digits[byte & 15]};
    out.append(hex, sizeof hex);
  };
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\\') {
      out += "\\\\";
      ++i;
      continue;
    }
    if (byte >= 0x20 && byte < 0x7F) {
      out += static_cast<char>(byte);
      ++i;
      continue;
    }
    // A well-formed UTF-8 sequence of 2 to 4 bytes, not a C1 control
    // (U+0080 to U+009F), not overlong, not a surrogate, not beyond U+10FFFF.
    const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC2 ? 2 : 0;
    bool whole = length > 0 && length <= 4 && byte < 0xF5 && i + length <= text.size();
    unsigned long code = byte & (0x7F >> length);
    for (std::size_t k = 1; whole && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      whole = (next & 0xC0) == 0x80;
      code = code << 6 | (next & 0x3F);
    }
    const unsigned long smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (whole && code >= smallest[length] && code >= 0xA0 && code <= 0x10FFFF &&
        !(code >= 0xD800 && code <= 0xDFFF) && !Invisible(code)) {
      out.append(text.substr(i, length));
      i += length;
      continue;
    }
    escape(byte);
    ++i;
  }
  return out;
}

/// The argument a command line should be refused for, of argv[1] to
/// argv[argc - 1]: the first, unless it is one of the `lone` options (which
/// stand only alone), then the one after it; null when there is none.
inline const char* UnexpectedArgument(int argc, char** argv,
                                      std::initializer_list<std::string_view> lone) {
  if (argc < 2) return nullptr;
  for (const std::string_view option : lone)
    if (option == argv[1]) return argc > 2 ? argv[2] : nullptr;
  return argv[1];
}

}  // namespace chain
