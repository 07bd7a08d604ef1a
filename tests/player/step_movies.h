// Movies that take a host step a great deal of work, and an ordinary one
// that comes near: the tests check that each step ends, the same way each
// time, and the benchmark chooses the work a step may do from them.
#pragma once

#include <cstdint>

#include "movie_writer.h"

namespace movie {

// A coded (DCT) bitmap character of w x h pixels, its blocks carrying
// low-frequency waves drawn from the seed.
Bytes CodedBitmap(uint16_t id, uint16_t w, uint16_t h, uint32_t seed = 1);
// A shape character of one box of w x h pixels at (x, y) pixels, filled
// with bitmap character `bitmap` (clipped, one texel a pixel) from its corner.
Bytes BitmapBox(uint16_t id, uint16_t bitmap, int32_t x, int32_t y, int32_t w, int32_t h);

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
// A field of grass: shape 1 a sawtooth of `teeth` teeth (two edges each, and
// its sides), 3 twips a tooth and 5 pixels tall, its outline drawn left to
// right or with its right side first; sprite 40 shows it and moves it a
// pixel at every step (or, `still`, a dot beside it, so that every other
// step its blades keep their edges); sprite 50 shows 40 `rows` times under
// one name, rows 1.5 pixels apart; the root shows 50 `columns` times under
// one name, 13 twips apart. With `background`, a "/Background" sprite lies
// under it (see BackgroundSprite).
Bytes GrassField(int teeth, int rows, int columns, bool rightFirst, bool still = false, bool background = false);
// Stars (ten edges, 10 pixels across): sprite 40 holds `stars` of them, the
// first moving to and fro a pixel at every step; sprite 50 shows 40
// `copies` times under one name; the root shows 50 `fields` times under one
// name.
Bytes StarField(int stars, int copies, int fields);
// An outline drawn for nothing: shape 1 is `edges` short edges with no fill
// and no line beside a 2-pixel filled box, its bounds over the stage;
// sprite 40 shows it and moves it a pixel at every step; sprite 50 shows 40
// `rows` times under one name; the root shows 50 `columns` times under one
// name. `Still`, it stands still beside a dot moving at every step (every
// other step it keeps its edges), every copy in one place.
Bytes UnfilledOutlineField(int edges, int rows, int columns, bool still = false);
// Styles prepared for nothing: shape 1 is a 2-pixel box among `fills`
// linear gradient fills (each prepared at every draw), shown and moved as
// in UnfilledOutlineField.
Bytes GradientFillsField(int fills, int rows, int columns);
// Photos in strips: shape 1 is `strips` strips side by side over the
// stage, filled in turn with `photos` coded bitmaps of `side` pixels, shown
// and moved (or `still`) as in UnfilledOutlineField. More photos than a
// frame holds decoded (the table's two and those it holds for the frame)
// are decoded again span by span.
Bytes PhotoStrips(int side, int strips, int rows, int columns, bool still = false, int photos = 3);
// A collage: shape 1 is `photos` boxes side by side, each `drawnWidth` x 208
// pixels filled (clipped) with a coded bitmap of its own, w x h pixels
// stretched over the box, so that every pixel row crosses every photo; the
// stage is just as wide, its background green. The root shows the shape at
// (0, 0) in its first frame and a pixel to the right in its second, and
// loops.
// `Apart`, each photo is a shape of its own (each drawn whole before the
// next), shown and moved alike: the same picture.
Bytes PhotoCollage(int photos, int w, int h, int drawnWidth, bool apart = false);
// Buttons inside buttons: the innermost shows a box in `records` records,
// the next shows it in as many, and so on `depth` deep (the records
// multiply: 64 five deep are 64^5 boxes); the outermost, character 1, is
// shown as shape 1 is in UnfilledOutlineField, standing still. Unless
// `drawn`, the innermost shows its box only when the pointer is over it.
Bytes NestedButtons(int depth, int records, bool drawn);
// A "/Background" sprite of `copies` x `copies` draws of a full-stage
// hatching (shape 1: 200 vertical stripes) through two shared clips, and a
// small box moving over it at every step. With `photoSide`, a coded photo
// of that many pixels lies over the hatchings in the sprite, and two more
// beside it in the root: three photos to the table's two decoded ones.
Bytes KeptHatching(int copies, int photoSide = 0);
// Two 1-pixel lines at the stage's sides (one shape, one fill), moving a
// pixel at every step: sprite 40 shows them; sprite 50 shows 40 `rows`
// times under one name; the root shows 50 `columns` times under one name.
Bytes SideLines(int rows, int columns);

}  // namespace movie
