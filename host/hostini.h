// Reading the main settings file, qor.ini, into the host's settings block.
#pragma once
#include <cstdint>
#include <string>

struct HostSettings;

// [Memory] Size in KB: the largest taken; what a start needs to run with
// its history (its block alone takes some 31 KB) and the home page, both the
// shipped one and a small script, while the inbox is as full as its built-in
// quota lets it be, with room to spare; and the one size a run with the
// built-in quotas needs for all of it (HostMemoryKbNeeded at those quotas).
constexpr int32_t kHostMemoryKbMax = 16384;
constexpr int32_t kHostMemoryKbStart = 160;
constexpr int32_t kHostMemoryKbAdvised = 640;
// The one size the quotas qor.ini set need, in steps of 16 KB: the start,
// its history and home page; the URL module's work buffer, which images and
// movies decode into, with the room it keeps beside it; a movie page made
// while the image page before it is still held; and the inbox as full as
// its quota lets it be, back at the start and saved at the stop. A size
// short of it is told to be raised to it, at the start and wherever memory
// kept something from running or being kept.
int32_t HostMemoryKbNeeded();

// Reads qor.ini of the current working directory (see HostReadIniFile).
void HostReadIni(HostSettings* settings);
// Reads the named profile file with qor.ini's defaults and limits. A file
// that is missing or cannot be read, and every number key whose text is no
// number or out of its range, is said on standard error with what is used
// instead. Hands the
// "Storage" quotas to the storage classes, a "Language" to the language
// selection and the "SMS" ports (1 to 65535; 12345 and 12346 when missing or
// out of range) and address (dotted; loopback when missing) to the
// short-message bridge.
void HostReadIniFile(HostSettings* settings, const std::string& path);

// The qor.ini the emulator ships (dist/qor.ini), byte for byte.
extern const char kHostDefaultIni[];
// Sets a key of a settings file (IniWriteString); a file that is not there
// is first written whole as the shipped qor.ini, never as the one key.
bool HostWriteSetting(const std::string& path, const char* section, const char* key,
                      const char* value);

// Parses up to `count` numbers separated by ",": decimal, or 0x and hex
// digits. A well-formed entry within [minimum, maximum] replaces the preset
// value at its position; any other leaves the preset.
void HostParseNumberList(const char* text, uint16_t* values, int count, uint32_t minimum,
                         uint32_t maximum);

// The display size and place used when no skin could be loaded: a phone
// size whose first five characters are "LARGE" selects 160 x 240 at
// (50, 109), anything else 96 x 64 at (60, 117).
void HostDefaultDisplay(HostSettings* settings, const char* phoneSize);
// The "PhoneSize" text of the last qor.ini read.
const char* HostPhoneSize();
