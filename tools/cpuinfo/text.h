// Processor texts (vendor, brand) can hold any bytes: a hypervisor sets them
// at will. The tool writes them to terminals and to comment lines only in
// this printable form.
#ifndef VELQUORN_TOOLS_CPUINFO_TEXT_H
#define VELQUORN_TOOLS_CPUINFO_TEXT_H

#include <string>

// `text` as printable ASCII: bytes 0x20-0x7E stay, except '\' which becomes
// "\\"; every other byte (controls, DEL, 0x80 and up) becomes "\xHH" with two
// lower-case hexadecimal digits. Real processors' texts come out unchanged.
inline std::string printable_text(const std::string& text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c < 0x7F) {
      out += ch;
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

#endif  // VELQUORN_TOOLS_CPUINFO_TEXT_H
