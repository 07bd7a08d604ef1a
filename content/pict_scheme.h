// Pictograms as images and as URLs (module 70): the pict: scheme, whose URLs
// name a pictogram of the WAP set by its path below "/pict/" or an i-mode
// pictogram by its decimal code; the img element's localsrc values turned
// into pict: URLs; and the bodies a pictogram file gives, used in place.
#pragma once
#include <cstdint>

#include "browser/url.h"
#include "graphics/image.h"
#include "graphics/pict.h"

namespace PictCode {
constexpr Result NoMemory = 0x80460001, NotFound = 0x80460003;
}

// The two pictogram authorities: the WAP set's (paths are names; localsrc
// values get this one) and the i-mode set's (paths are codes).
constexpr char kPictAuthority[] = "pict.qor";
constexpr char kPictCodeAuthority[] = "imode.pict.qor";

namespace PictMode {
constexpr uint32_t Name = 0, Code = 1;
}

// The path below "/pict/" of an i-mode pictogram code (decimal text):
// class folder + "/" + file name, a static text; null for a code outside
// the ranges.
const char* PictCodePath(const char* code);

// A body for the pictogram: kind 15 for a still file (the stored surface
// and the file image, which the body owns), kind 17 for an animation whose
// frames show the file's stored surfaces. `text` is a path below "/pict/"
// (mode Name) or a code (mode Code). NotFound for no such code or file or a
// path with "..", a backslash or a NUL; NoMemory for memory, or a file that
// is no pictogram.
Result PictCreateImage(const char* text, ContentImage** out, uint32_t mode);

// 0 when the pict: URL names an existing pictogram, else the error.
Result PictCheckUrl(const char* url);

// Rewrites an img element's localsrc value in place into a pict: URL: a
// value holding ":" stays; "/x" becomes "pict://" authority "/x"; "x"
// becomes "pict://" authority "/core/x". NoMemory.
Result PictBuildUrl(char** value);

// The pict: scheme row's start and step.
Result PictSchemeStart(UrlRequestRec* request, UrlLoad* load);
Result PictSchemeStep(UrlRequestRec* request, UrlLoad* load);
