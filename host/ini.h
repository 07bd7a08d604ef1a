// Profile (.ini) files, read and written the way the desktop's profile calls
// treat them, since qor.ini, the skins and modem.ini were written for those:
//
// - section and key names match without regard to ASCII case;
// - the first section of a name is the only one read, and in it the first
//   entry of a key;
// - values lose surrounding blanks, then one pair of matching surrounding
//   double or single quotes;
// - LF and CRLF line ends and a UTF-8 byte-order mark are accepted; lines
//   starting with ";" or "#" are comments; lines without "=" are ignored, and
//   so are entries before the first section;
// - a missing or unreadable file reads as all defaults.
//
// Writes change only the lines they must: every other byte of the file
// (comments, order, blank lines, line ends) stays as it was.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum class IniLoad { Read, Missing, Unreadable };

class IniFile {
 public:
  // Replaces the contents with the file's; a missing or unreadable file
  // leaves the contents empty.
  IniLoad Load(const std::string& path);
  // Replaces the contents with these bytes (any bytes at all).
  void LoadBytes(const void* data, size_t size);
  void LoadText(std::string_view text) { LoadBytes(text.data(), text.size()); }

  // The value of the key in the first section of that name, or nothing.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  bool HasSection(std::string_view section) const;
  // Copies the value (or the fallback when the key is missing; null reads as
  // "") into out as at most outSize - 1 bytes and a terminating 0; returns the
  // bytes copied. Nothing is written when outSize is 0.
  size_t GetString(std::string_view section, std::string_view key, const char* fallback, char* out,
                   size_t outSize) const;
  // An optional sign and decimal digits, up to the first other character;
  // saturates at the int32_t limits. A missing or empty value gives the
  // fallback, a value without digits 0.
  int32_t GetInt(std::string_view section, std::string_view key, int32_t fallback) const;

  // Replaces the value in place, or adds the key after the last entry of its
  // section, or adds the section at the end. False, and nothing changed, for
  // a name or value that could not be read back as given (line breaks, "="
  // in a key, "]" in a section, surrounding blanks on a name, a key starting
  // like a comment or a section). A value that reading would alter
  // (surrounding blanks or quotes) is written inside double quotes.
  bool Set(std::string_view section, std::string_view key, std::string_view value);
  // Deletes every entry of the key in the section that reading uses; true
  // when one was there.
  bool RemoveKey(std::string_view section, std::string_view key);
  // Deletes every section of that name with all its lines; true when one was
  // there.
  bool RemoveSection(std::string_view section);

  // Writes the contents to a temporary file beside the path, flushes it to
  // disk and renames it over the path, so the file is either the old one or
  // the new one whole. False on any failure, with the old file untouched.
  bool Save(const std::string& path) const;

  // The file's bytes as they stand.
  const std::string& Text() const { return text_; }

 private:
  struct Line;
  struct Found;
  Line LineAt(size_t pos) const;
  size_t BodyStart() const;
  Found Find(std::string_view section, std::string_view key) const;
  const char* NewLine() const;

  std::string text_;
};

// The profile calls on a file by path, loading it for each call.
size_t IniGetString(const std::string& path, const char* section, const char* key,
                    const char* fallback, char* out, size_t outSize);
int32_t IniGetInt(const std::string& path, const char* section, const char* key, int32_t fallback);
// Sets the key; a null value deletes the key, a null key the whole section.
// A missing file is created; an unreadable one is left alone (false).
bool IniWriteString(const std::string& path, const char* section, const char* key,
                    const char* value);
