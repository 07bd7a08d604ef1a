// Movies whose one frame's actions loop for ever, each round walking the
// texts given: the tests check that a step walking them ends within its
// work and leaves nothing behind, and the benchmark measures what each kind
// of action and each byte of text walked costs.
#pragma once

#include <cstdint>
#include <string>

#include "movie_writer.h"

namespace movie {

// A sprite "r" whose one frame counts in "/:n" for ever, doing `more` at
// every round before the count and `after` after it (together they leave
// the stack as they found it; a round stays within 32 KB).
Bytes LoopForEver(const Bytes& more, const Bytes& after = {});
// The same sprite at the root beside `count` empty sprites named in
// `length` bytes and then one named "q" or, with `labels`, the root's first
// `count` frames labelled so: a lookup of "q" or of a missing label passes
// every long name.
Bytes LoopAmongNames(const Bytes& more, uint32_t count, uint32_t length, bool labels);
// `n` digits, the first 1.
std::string Digits(uint32_t n);
// The kinds of actions the benchmark loops on: each round of kind k does
// its action on texts of `length` bytes (numbers of `length` digits) and
// pops what it leaves.
inline constexpr int kLoopKinds = 17;
const char* LoopKindName(int kind);
// Actions in a round of kind k, the count and the jump back included.
int LoopKindActions(int kind);
Bytes LoopOfKind(int kind, uint32_t length);

// `sprites` sprites each counting in their own "n" to `rounds` in their one
// frame, a round of kCountRoundActions actions, then adding 1 to "/:done".
inline constexpr uint32_t kCountRoundActions = 11;
Bytes CountTo(uint32_t rounds, uint16_t sprites = 1);

}  // namespace movie
