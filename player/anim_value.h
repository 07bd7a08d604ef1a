// Script values, the movie's variables and target paths. Values and
// variables are text held in the player heap; names compare without regard
// to ASCII case.
#pragma once

#include <cstdint>

struct AnimPlayer;

enum AnimValueKind : uint32_t { kAnimInt = 1, kAnimFloat = 2, kAnimString = 3 };

struct AnimValue {
  uint32_t kind;
  void* slot;        // owned 4-byte storage: the integer, the float bits, or the owned string
  uint32_t reserved;
  AnimValue* next;   // the cell below on the stack
};

struct AnimVariable {
  uint32_t kind;     // always a string
  void* slot;        // owned slot holding the owned text
  char* name;
  void* boundObject; // the edit-text item showing this variable, or null
  AnimVariable* next;
};

inline constexpr uint32_t kAnimVarBuckets = 32;

// Text an action walks is work of the step in its length: bytes read one at
// a time (turned into numbers, names hashed and compared without regard to
// case), about 1-2 ns each, and bytes copied or compared many at a time,
// 0.04 to 0.2 ns each (taking and freeing their blocks included). So many
// make a unit of work of about a microsecond, so that a step whose budget
// they take whole ends at about half a second of processor time, no later
// (bench/anim_step_bench.cpp, AnimActionLoop, measures every kind).
inline constexpr uint32_t kAnimTextWalkedPerWork = 800;
inline constexpr uint32_t kAnimTextCopiedPerWork = 20000;

// New cells (kind and slot set) own their storage in the player heap.
AnimValue* AnimValue_NewInt(AnimPlayer* p, int32_t v);
AnimValue* AnimValue_NewFloat(AnimPlayer* p, float v);
AnimValue* AnimValue_NewText(AnimPlayer* p, const char* text);
void AnimValue_Push(AnimPlayer* p, AnimValue* cell);
// The top cell (the caller owns it); an empty stack gives an empty string value.
AnimValue* AnimValue_Pop(AnimPlayer* p);
void AnimValue_Release(AnimPlayer* p, AnimValue* cell);
uint32_t AnimValue_ClearStack(AnimPlayer* p);
void AnimValue_SetText(AnimPlayer* p, AnimValue* cell, char* owned);
// With `walked`, the bytes of text read to find the number are added to it.
double AnimValue_Number(const AnimValue* cell, uint32_t* walked = nullptr);
int32_t AnimValue_Integer(const AnimValue* cell, uint32_t* walked = nullptr);
char* AnimValue_Text(AnimPlayer* p, const AnimValue* cell);

char* AnimText_FromInt(AnimPlayer* p, int32_t n);
char* AnimText_FromFloat(AnimPlayer* p, float x);
// An arithmetic result: "%d" when whole, else the float form.
char* AnimText_FromResult(AnimPlayer* p, float x);
char* AnimStr_Dup(AnimPlayer* p, const char* text);
char* AnimStr_DupN(AnimPlayer* p, const char* text, uint32_t n);
void AnimStr_Free(AnimPlayer* p, char* text);

uint32_t AnimVar_Bucket(const char* name);
AnimVariable* AnimVar_Find(AnimPlayer* p, const char* name);
AnimVariable* AnimVar_Set(AnimPlayer* p, const char* name, char* owned);
char* AnimVar_Get(AnimPlayer* p, const char* name);
void AnimVar_Clear(AnimPlayer* p);
char* AnimVar_Collect(AnimPlayer* p, const char* clipPath);
// Text of a variable (borrowed), or null.
const char* AnimVar_Text(const AnimVariable* v);

// 0 when equal (ASCII letters without regard to case), 1 otherwise or when either is null.
int AnimName_Equal(const char* a, const char* b);
// The same, adding the bytes compared to p->namesWalked (p may be null).
int AnimName_EqualWalked(AnimPlayer* p, const char* a, const char* b);

inline constexpr uint32_t kAnimPathClip = 0;
inline constexpr uint32_t kAnimPathVariable = 1;
// Writes the full path into a new owned string *out; returns it (null on failure).
char* AnimPath_Resolve(AnimPlayer* p, const char* base, const char* path, uint32_t mode);
// Cuts path (owned, writable) at its last '/' (flag 1) or ':' (flag 0) and
// returns the part after it; null when the separator is missing.
char* AnimPath_Split(char* path, uint32_t slashFlag);
uint32_t AnimPath_Depth(const char* path);
