#include "host/ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";
constexpr size_t kBomSize = 3;

bool IniIsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

char IniFold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IniNameEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (IniFold(a[i]) != IniFold(b[i])) return false;
  return true;
}

// A name is written only when reading the file back finds it under the same
// name; anything else would be a key that can never be read again.
bool IniSectionNameOk(std::string_view name) {
  if (name.find_first_of("\r\n]") != std::string_view::npos) return false;
  return name.empty() || (!IniIsBlank(name.front()) && !IniIsBlank(name.back()));
}

bool IniKeyNameOk(std::string_view name) {
  if (name.empty() || name.find_first_of("\r\n=") != std::string_view::npos) return false;
  if (name.front() == ';' || name.front() == '#' || name.front() == '[') return false;
  return !IniIsBlank(name.front()) && !IniIsBlank(name.back());
}

// Reading trims blanks and strips one pair of quotes; a value that would lose
// something that way is quoted, so it reads back as it was given.
std::string IniEncodeValue(std::string_view value) {
  bool quote = false;
  if (!value.empty()) {
    char first = value.front(), last = value.back();
    quote = IniIsBlank(first) || IniIsBlank(last) ||
            (value.size() >= 2 && (first == '"' || first == '\'') && last == first);
  }
  if (!quote) return std::string(value);
  std::string out;
  out.reserve(value.size() + 2);
  out += '"';
  out += value;
  out += '"';
  return out;
}

// The first c in [from, to), or to; never looks past the line.
size_t IniFindIn(const std::string& text, char c, size_t from, size_t to) {
  const void* hit = std::memchr(text.data() + from, c, to - from);
  return hit != nullptr ? static_cast<size_t>(static_cast<const char*>(hit) - text.data()) : to;
}

size_t IniCopyOut(std::string_view text, char* out, size_t outSize) {
  if (out == nullptr || outSize == 0) return 0;
  size_t n = text.size() < outSize - 1 ? text.size() : outSize - 1;
  if (n != 0) std::memcpy(out, text.data(), n);
  out[n] = '\0';
  return n;
}

int32_t IniParseInt(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Past 2^31 the value is pinned, so a long digit string cannot overflow.
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 2147483648LL) value = 2147483648LL;
  }
  if (negative) return static_cast<int32_t>(-value);
  return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
}

}  // namespace

struct IniFile::Line {
  enum Kind { Blank, Comment, Section, Entry, Other };
  size_t start;  // first byte of the line
  size_t end;    // end of its content, before the line end
  size_t next;   // first byte of the following line
  Kind kind;
  size_t nameBegin, nameEnd;    // section or key name, trimmed
  size_t valueBegin, valueEnd;  // entry value, trimmed, quotes kept
};

struct IniFile::Found {
  bool section = false;  // a section of that name exists
  size_t insertAt = 0;   // where a new entry of the section goes
  bool key = false;
  Line entry{};  // the key's first entry in the section
};

size_t IniFile::BodyStart() const { return text_.compare(0, kBomSize, kBom) == 0 ? kBomSize : 0; }

IniFile::Line IniFile::LineAt(size_t pos) const {
  Line line{};
  line.start = pos;
  size_t newline = text_.find('\n', pos);
  line.end = newline == std::string::npos ? text_.size() : newline;
  line.next = newline == std::string::npos ? text_.size() : newline + 1;
  if (newline != std::string::npos && line.end > pos && text_[line.end - 1] == '\r') --line.end;

  size_t b = pos;
  while (b < line.end && IniIsBlank(text_[b])) ++b;
  if (b == line.end) {
    line.kind = Line::Blank;
    return line;
  }
  char c = text_[b];
  if (c == ';' || c == '#') {
    line.kind = Line::Comment;
    return line;
  }
  if (c == '[') {
    // A header without its "]" still starts a section, so that the entries
    // below it are not taken for the previous section's.
    line.kind = Line::Section;
    line.nameBegin = b + 1;
    line.nameEnd = IniFindIn(text_, ']', line.nameBegin, line.end);
  } else {
    size_t eq = IniFindIn(text_, '=', b, line.end);
    if (eq == line.end) {
      line.kind = Line::Other;
      return line;
    }
    line.kind = Line::Entry;
    line.nameBegin = b;
    line.nameEnd = eq;
    line.valueBegin = eq + 1;
    line.valueEnd = line.end;
    while (line.valueBegin < line.valueEnd && IniIsBlank(text_[line.valueBegin])) ++line.valueBegin;
    while (line.valueEnd > line.valueBegin && IniIsBlank(text_[line.valueEnd - 1])) --line.valueEnd;
  }
  while (line.nameBegin < line.nameEnd && IniIsBlank(text_[line.nameBegin])) ++line.nameBegin;
  while (line.nameEnd > line.nameBegin && IniIsBlank(text_[line.nameEnd - 1])) --line.nameEnd;
  if (line.kind == Line::Entry && line.nameBegin == line.nameEnd) line.kind = Line::Other;
  return line;
}

IniFile::Found IniFile::Find(std::string_view section, std::string_view key) const {
  Found found;
  std::string_view text(text_);
  bool inside = false;
  for (size_t pos = BodyStart(); pos < text_.size();) {
    Line line = LineAt(pos);
    std::string_view name = text.substr(line.nameBegin, line.nameEnd - line.nameBegin);
    if (line.kind == Line::Section) {
      if (inside) break;  // only the first section of a name is read
      if (IniNameEquals(name, section)) {
        inside = found.section = true;
        found.insertAt = line.next;
      }
    } else if (inside && line.kind == Line::Entry) {
      if (!found.key && IniNameEquals(name, key)) {
        found.key = true;
        found.entry = line;
      }
      found.insertAt = line.next;
    }
    pos = line.next;
  }
  return found;
}

const char* IniFile::NewLine() const {
  size_t newline = text_.find('\n');
  return newline != std::string::npos && newline > 0 && text_[newline - 1] == '\r' ? "\r\n" : "\n";
}

IniLoad IniFile::Load(const std::string& path) {
  text_.clear();
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr)
    return errno == ENOENT || errno == ENOTDIR ? IniLoad::Missing : IniLoad::Unreadable;
  char buffer[16384];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text_.append(buffer, n);
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    text_.clear();
    return IniLoad::Unreadable;
  }
  return IniLoad::Read;
}

void IniFile::LoadBytes(const void* data, size_t size) {
  if (data == nullptr || size == 0)
    text_.clear();
  else
    text_.assign(static_cast<const char*>(data), size);
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
  Found found = Find(section, key);
  if (!found.key) return std::nullopt;
  size_t b = found.entry.valueBegin, e = found.entry.valueEnd;
  if (e - b >= 2 && (text_[b] == '"' || text_[b] == '\'') && text_[e - 1] == text_[b]) {
    ++b;
    --e;
  }
  return text_.substr(b, e - b);
}

bool IniFile::HasSection(std::string_view section) const { return Find(section, {}).section; }

size_t IniFile::GetString(std::string_view section, std::string_view key, const char* fallback,
                          char* out, size_t outSize) const {
  std::optional<std::string> value = Get(section, key);
  if (value) return IniCopyOut(*value, out, outSize);
  return IniCopyOut(fallback != nullptr ? fallback : "", out, outSize);
}

int32_t IniFile::GetInt(std::string_view section, std::string_view key, int32_t fallback) const {
  std::optional<std::string> value = Get(section, key);
  if (!value || value->empty()) return fallback;
  return IniParseInt(*value);
}

bool IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  if (!IniSectionNameOk(section) || !IniKeyNameOk(key) ||
      value.find_first_of("\r\n") != std::string_view::npos)
    return false;
  std::string encoded = IniEncodeValue(value);
  const char* newline = NewLine();
  Found found = Find(section, key);
  if (found.key) {
    text_.replace(found.entry.valueBegin, found.entry.valueEnd - found.entry.valueBegin, encoded);
    return true;
  }

  // Only the last line of the file can lack its line end; it gets one before
  // anything follows it.
  std::string added;
  size_t at = found.section ? found.insertAt : text_.size();
  bool hasBody = text_.size() > BodyStart();
  if (at == text_.size() && hasBody && text_.back() != '\n')
    added += text_.back() == '\r' ? "\n" : newline;
  if (!found.section) {
    if (hasBody) {
      // Sections are kept apart by a blank line, as people write them.
      size_t lastEnd = text_.back() == '\n' ? text_.size() - 1 : text_.size();
      size_t lastStart = lastEnd == 0 ? 0 : text_.rfind('\n', lastEnd - 1);
      lastStart = lastStart == std::string::npos ? BodyStart() : lastStart + 1;
      if (LineAt(lastStart).kind != Line::Blank) added += newline;
    }
    added += '[';
    added += section;
    added += ']';
    added += newline;
  }
  added += key;
  added += '=';
  added += encoded;
  added += newline;
  text_.insert(at, added);
  return true;
}

bool IniFile::RemoveKey(std::string_view section, std::string_view key) {
  std::string_view text(text_);
  std::string kept(text.substr(0, BodyStart()));
  bool inside = false, seen = false, removed = false;
  for (size_t pos = BodyStart(); pos < text_.size();) {
    Line line = LineAt(pos);
    std::string_view name = text.substr(line.nameBegin, line.nameEnd - line.nameBegin);
    if (line.kind == Line::Section) {
      inside = !seen && IniNameEquals(name, section);
      seen = seen || inside;
    } else if (inside && line.kind == Line::Entry && IniNameEquals(name, key)) {
      removed = true;
      pos = line.next;
      continue;
    }
    kept.append(text.substr(line.start, line.next - line.start));
    pos = line.next;
  }
  if (removed) text_ = std::move(kept);
  return removed;
}

bool IniFile::RemoveSection(std::string_view section) {
  std::string_view text(text_);
  std::string kept(text.substr(0, BodyStart()));
  bool cutting = false, removed = false;
  for (size_t pos = BodyStart(); pos < text_.size();) {
    Line line = LineAt(pos);
    if (line.kind == Line::Section) {
      cutting = IniNameEquals(text.substr(line.nameBegin, line.nameEnd - line.nameBegin), section);
      removed = removed || cutting;
    }
    if (!cutting) kept.append(text.substr(line.start, line.next - line.start));
    pos = line.next;
  }
  if (removed) text_ = std::move(kept);
  return removed;
}

bool IniFile::Save(const std::string& path) const {
  std::string temp = path + ".XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) return false;
  struct stat old;
  fchmod(fd, stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);

  bool ok = true;
  for (size_t done = 0; ok && done < text_.size();) {
    ssize_t n = write(fd, text_.data() + done, text_.size() - done);
    if (n > 0)
      done += static_cast<size_t>(n);
    else if (n < 0 && errno == EINTR)
      continue;
    else
      ok = false;
  }
  ok = ok && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && std::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    unlink(temp.c_str());
    return false;
  }
  // The rename itself reaches the disk only with its folder.
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  int dirFd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  return true;
}

size_t IniGetString(const std::string& path, const char* section, const char* key,
                    const char* fallback, char* out, size_t outSize) {
  if (section == nullptr || key == nullptr)
    return IniCopyOut(fallback != nullptr ? fallback : "", out, outSize);
  IniFile file;
  file.Load(path);
  return file.GetString(section, key, fallback, out, outSize);
}

int32_t IniGetInt(const std::string& path, const char* section, const char* key, int32_t fallback) {
  if (section == nullptr || key == nullptr) return fallback;
  IniFile file;
  file.Load(path);
  return file.GetInt(section, key, fallback);
}

bool IniWriteString(const std::string& path, const char* section, const char* key,
                    const char* value) {
  if (section == nullptr) return false;
  IniFile file;
  // Writing over a file that could not be read would lose all of it.
  if (file.Load(path) == IniLoad::Unreadable) return false;
  bool changed;
  if (key == nullptr)
    changed = file.RemoveSection(section);
  else if (value == nullptr)
    changed = file.RemoveKey(section, key);
  else
    changed = file.Set(section, key, value);
  if (!changed) return key == nullptr || value == nullptr;
  return file.Save(path);
}
