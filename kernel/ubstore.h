// Storage classes: the host files that persist the settings sections.
//
// Four classes, each one whole file in the working folder named like the
// class, with a byte quota a write may not exceed. Reads and writes finish
// inside the call and post their answer to the reply task for its next step.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

struct TskmanTask;

namespace UbstoreMsg {
constexpr uint32_t Written = Msg(Mod::Ubstore, 0x00), Read = Msg(Mod::Ubstore, 0x01);  // {status, user value}
}

constexpr Result kUbstoreNoMemory = ResultError(Mod::Ubstore, Err::NoMemory);
constexpr Result kUbstoreUnknownClass = ResultError(Mod::Ubstore, Err::NotFound);
constexpr Result kUbstoreReadFailed = ResultError(Mod::Ubstore, 0x8000);
constexpr Result kUbstoreOverQuota = ResultError(Mod::Ubstore, 0x8001);
// The file could not be written whole; the previous one is left as it was.
constexpr Result kUbstoreWriteFailed = ResultError(Mod::Ubstore, 0x8002);
// The user word a read hands out with its buffer.
constexpr uintptr_t kUbstoreUserWord = 0x12345678;

// Index 0-3 of the class with exactly that name, or -1.
int32_t UbstoreClassIndex(const char* name);
// Replaces the byte quota of a known class when bytes >= 0; returns its index.
int32_t UbstoreSetQuota(const char* name, int32_t bytes);
int32_t UbstoreGetQuota(int32_t index);
// The quota a class has until one is set; -1 for no class.
int32_t UbstoreBuiltInQuota(int32_t index);

// Reads the class's whole file into a buffer from the process heap. A missing
// or empty file gives no buffer, length 0 and status 0. Posts
// UbstoreMsg::Read {status, user} to the reply task.
void UbstoreRead(uint8_t** buffer, uint32_t* length, uintptr_t* userWord, TskmanTask* reply,
                 const char* className, uintptr_t user);
// Replaces the class's file with the bytes, atomically, and posts
// UbstoreMsg::Written {status, user}. The buffer stays the caller's.
void UbstoreWrite(TskmanTask* reply, const char* className, const uint8_t* buffer,
                  uint32_t length, uintptr_t user);
// Keeps the bytes of a class file that could not be read as settings beside
// it, before the class file is replaced: as "<class>.damaged", or
// "<class>.damaged.1" and on when earlier copies stand (none is written over;
// bytes kept already are not kept again); 0, or kUbstoreWriteFailed (then the
// class file must not be replaced).
Result UbstoreKeepDamaged(const char* className, const uint8_t* bytes, uint32_t length);
// The class file just read is damaged: its bytes are kept as above at once,
// and the user is told which file it is, that its sections start empty and
// where the bytes are.
Result UbstoreSayDamaged(const char* className, const uint8_t* bytes, uint32_t length);
// The class file just read is over its class's quota: the user is told
// that it reads as it is but that no save leaving it over the quota is made.
void UbstoreSayOverQuota(const char* className, uint32_t length);
// A save of the class's file left out part of what it was given, or could
// not be made: the user is told what was not kept (`what`), as of a file
// that could not be written.
void UbstoreSayNotKept(const char* className, const char* what);
// Returns a buffer of UbstoreRead to the process heap and nulls the pointer.
void UbstoreFreeBuffer(uintptr_t userWord, uint8_t** buffer);
// Frees an engine buffer meant for a write that will not happen; answers 0.
Result UbstoreCancel(const char* className, uintptr_t userWord, uint8_t** buffer);
