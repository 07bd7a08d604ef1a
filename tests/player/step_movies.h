// Movies that take a host step a great deal of work, and an ordinary one
// that comes near: the tests check that each step ends, the same way each
// time, and the benchmark chooses the work a step may do from them.
#pragma once

#include "movie_writer.h"

namespace movie {

// Sprite 40 holds `boxes` boxes; sprite 50 places `copies` copies of it
// under one name in its first frame and moves them in its second; the root
// shows sprite 50 as "a" and "b". A list of the root's first frame switches
// both between their frames for ever (go to frame 1 of each, then frame 0
// of each, and back), and so does each of `runners` one-frame sprites the
// root shows, at every step.
// With `background`, a "/Background" sprite lies under it all (see
// BackgroundSprite).
Bytes SwitchingCopies(int copies, int boxes, int runners, bool background = false);
// Sprites `levels` deep, each showing the one below `copies` times under
// one name, the bottom one a box (`side` twips square) moving to and fro
// a pixel at every step; the root shows the top one.
Bytes CopiesOfCopies(int levels, int copies, int side = 40, bool background = false);
// Definitions of a "/Background" sprite (character 202: a box over the
// stage, boxes in a row and a sprite of two frames, red then blue, over
// it; characters 200 to 205) and its placement at `depth` as "Background".
Bytes BackgroundSprite(uint16_t depth);
// A clip of `boxes` boxes (10 pixels each, the first moving to and fro a
// pixel at every step) shown `copies` times under one name, in rows of 13
// copies 13 pixels apart.
Bytes CopyField(int boxes, int copies);

}  // namespace movie
