// The UTF-16 side of the trace log: a printf-style formatter whose "%s" takes
// UTF-16 text and "%S" 8-bit text (as the wide printf family of the desktop
// the log was written for), narrowing to UTF-8, and console colours.
#include <cstdio>
#include <cstring>
#include <string>

#include "host/trace.h"

namespace {

// Appends to a bounded UTF-16 buffer; the last unit is kept for the zero.
struct LogWide {
  char16_t* out;
  size_t size;
  size_t used = 0;
  void Put(char16_t c) {
    if (used + 1 < size) out[used++] = c;
  }
};

void LogPad(LogWide& w, size_t count) {
  for (size_t i = 0; i < count; ++i) w.Put(u' ');
}

template <class Unit>
size_t LogUnits(const Unit* s, int precision) {
  size_t n = 0;
  while ((precision < 0 || n < static_cast<size_t>(precision)) && s[n]) ++n;
  return n;
}

template <class Unit>
void LogPutText(LogWide& w, const Unit* s, int width, int precision, bool left) {
  static const Unit kNull[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
  if (!s) s = kNull;
  size_t n = LogUnits(s, precision);
  size_t pad = width > 0 && static_cast<size_t>(width) > n ? width - n : 0;
  if (!left) LogPad(w, pad);
  for (size_t i = 0; i < n; ++i)
    w.Put(static_cast<char16_t>(static_cast<std::make_unsigned_t<Unit>>(s[i])));
  if (left) LogPad(w, pad);
}

int LogNumber(const char16_t*& f) {
  int n = 0;
  while (*f >= u'0' && *f <= u'9') {
    if (n < 100000) n = n * 10 + (*f - u'0');
    ++f;
  }
  return n;
}

}  // namespace

size_t LogFormatW(char16_t* out, size_t size, const char16_t* format, va_list args) {
  LogWide w{out, size};
  va_list ap;
  va_copy(ap, args);
  for (const char16_t* f = format; *f;) {
    if (*f != u'%') {
      w.Put(*f++);
      continue;
    }
    const char16_t* start = f++;
    // The conversion as an 8-bit format, for the numbers.
    std::string spec = "%";
    bool left = false;
    while (*f && std::strchr("-+ #0", static_cast<char>(*f)) && *f < 0x80) {
      left |= *f == u'-';
      spec += static_cast<char>(*f++);
    }
    int width = -1, precision = -1;
    if (*f == u'*') {
      width = va_arg(ap, int);
      if (width < 0) {
        left = true;
        spec += '-';
        width = -width;
      }
      ++f;
    } else if (*f >= u'0' && *f <= u'9') {
      width = LogNumber(f);
    }
    if (*f == u'.') {
      ++f;
      if (*f == u'*') {
        precision = va_arg(ap, int);
        ++f;
      } else {
        precision = LogNumber(f);
      }
      if (precision < 0) precision = -1;
    }
    if (width >= 0) spec += std::to_string(width);
    if (precision >= 0) spec += "." + std::to_string(precision);
    std::string size8;
    while (*f == u'h' || *f == u'l' || *f == u'z' || *f == u'j' || *f == u't' || *f == u'L')
      size8 += static_cast<char>(*f++);
    char conv = *f < 0x80 ? static_cast<char>(*f) : '\0';
    if (*f) ++f;
    char number[128];
    number[0] = '\0';
    switch (conv) {
      case '%': w.Put(u'%'); break;
      case 's':
        if (size8 == "h")
          LogPutText(w, va_arg(ap, const char*), width, precision, left);
        else
          LogPutText(w, va_arg(ap, const char16_t*), width, precision, left);
        break;
      case 'S': LogPutText(w, va_arg(ap, const char*), width, precision, left); break;
      case 'c': {
        char16_t c[2] = {static_cast<char16_t>(va_arg(ap, int)), 0};
        if (c[0] == 0) {  // a zero character is written as itself
          LogPad(w, !left && width > 1 ? width - 1 : 0);
          w.Put(0);
          LogPad(w, left && width > 1 ? width - 1 : 0);
        } else {
          LogPutText(w, c, width, -1, left);
        }
        break;
      }
      case 'd': case 'i': case 'u': case 'x': case 'X': case 'o': {
        bool isSigned = conv == 'd' || conv == 'i';
        spec += conv == 'i' ? 'd' : conv;
        if (size8 == "ll" || size8 == "j" || size8 == "l" || size8 == "z" || size8 == "t") {
          spec.insert(spec.size() - 1, "ll");
          if (isSigned) {
            long long v = size8 == "ll" ? va_arg(ap, long long)
                          : size8 == "j" ? static_cast<long long>(va_arg(ap, intmax_t))
                                         : static_cast<long long>(va_arg(ap, long));
            std::snprintf(number, sizeof number, spec.c_str(), v);
          } else {
            unsigned long long v = size8 == "ll" ? va_arg(ap, unsigned long long)
                                   : size8 == "j"
                                       ? static_cast<unsigned long long>(va_arg(ap, uintmax_t))
                                       : static_cast<unsigned long long>(va_arg(ap, unsigned long));
            std::snprintf(number, sizeof number, spec.c_str(), v);
          }
        } else {
          int v = va_arg(ap, int);
          if (size8 == "hh") v = isSigned ? static_cast<signed char>(v) : static_cast<unsigned char>(v);
          if (size8 == "h") v = isSigned ? static_cast<short>(v) : static_cast<unsigned short>(v);
          std::snprintf(number, sizeof number, spec.c_str(), v);
        }
        break;
      }
      case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A': {
        spec += conv;
        double v = size8 == "L" ? static_cast<double>(va_arg(ap, long double)) : va_arg(ap, double);
        std::snprintf(number, sizeof number, spec.c_str(), v);
        break;
      }
      case 'p': std::snprintf(number, sizeof number, "%p", va_arg(ap, void*)); break;
      default:  // not a conversion: written as it stands, arguments untouched
        for (const char16_t* p = start; p < f; ++p) w.Put(*p);
        break;
    }
    for (const char* p = number; *p; ++p) w.Put(static_cast<char16_t>(static_cast<unsigned char>(*p)));
  }
  va_end(ap);
  if (size) out[w.used] = 0;
  return w.used;
}

std::string LogNarrow(const char16_t* text, size_t units) {
  std::string out;
  for (size_t i = 0; i < units; ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // a lone half of a pair
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Console attributes count blue 1, green 2, red 4 and bright 8, foreground in
// the low nibble and background in the next; terminals count red 1, green 2,
// blue 4. A black background is left to the terminal's own.
std::string LogAnsiColour(uint16_t colour) {
  if (colour == 0) colour = 1;
  auto index = [](unsigned bits) { return (bits & 4 ? 1 : 0) | (bits & 2 ? 2 : 0) | (bits & 1 ? 4 : 0); };
  unsigned fg = colour & 0xF, bg = colour >> 4 & 0xF;
  std::string s = "\x1b[" + std::to_string((fg & 8 ? 90 : 30) + index(fg));
  if (bg) s += ";" + std::to_string((bg & 8 ? 100 : 40) + index(bg));
  return s + "m";
}
