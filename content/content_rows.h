// The content-type rows of the content handlers and the frame every row keeps
// with the fetch layer: what a process step is given (the URL module context
// with its shared work buffer, the load), how it signals data, completion and
// failure, and how the decoded images on a load's output list are freed.
//
// The fetch layer sits below the handlers, so it cannot name them: the table
// here is handed to it by ContentRowsInstall at start-up (and by the tests'
// fixtures). Rows whose handlers are not part of the product yet keep a null
// process and are passed over like the fetch layer's own rows.
#pragma once
#include <cstdint>

#include "browser/url.h"
#include "content/decode_feed.h"

// The handset-image rows' module ids: allocation tags and result codes.
namespace ContentMod {
constexpr uint32_t Sis = 83, Nbmp = 84;
}

// The content rows in table order, and their count.
extern const UrlContentTypeRow kContentTypeRows[];
extern const uint32_t kContentTypeRowCount;
// The schemes the content handlers serve (pict:).
extern const UrlSchemeRow kContentSchemeRows[];
extern const uint32_t kContentSchemeRowCount;

// Hands the tables to the fetch layer and the adver element's image-object
// decoder to the markup layer.
void ContentRowsInstall();
// Takes them out again.
void ContentRowsRemove();

// A feed over the load for one process step; ContentFeedDone copies the
// events the core raised back to the load and makes the load free its
// output with ContentOutputFree.
ContentFeed ContentFeedOf(UrlLoad* load);
void ContentFeedDone(UrlLoad* load, const ContentFeed& feed);

// Frees one decoded image with its bands, frames, kept body and decoder
// state (a stored pictogram gives its file back to the built-in tree).
void ContentImageFree(ContentImage* image);
// The load's output-free operation for loads whose output is images.
void ContentOutputFree(UrlLoad* load, QueueNode* object);

// A frame record with room for `bands` band pointers, zero-filled; null
// without memory.
ContentImageFrame* ContentFrameNew(uint32_t bands, uint32_t module);
// Frees a frame and its bands.
void ContentFrameFree(ContentImageFrame* frame);
// A kind-17 image record, zero-filled; null without memory.
ContentImage* ContentAnimationNew(uint32_t width, uint32_t height, uint32_t module);

// WBMP: the image/vnd.wap.wbmp row (type 33, class 5).
Result WBmpContentProcess(UrlModuleContext* module, UrlLoad* load);
Result JpegContentProcess(UrlModuleContext* module, UrlLoad* load);
Result JpegContentRelease(UrlModuleContext* module, UrlLoad* load);
Result PngContentProcess(UrlModuleContext* module, UrlLoad* load);
Result PngContentRelease(UrlModuleContext* module, UrlLoad* load);
Result MngContentProcess(UrlModuleContext* module, UrlLoad* load);
Result MngContentRelease(UrlModuleContext* module, UrlLoad* load);
Result WBmpContentRelease(UrlModuleContext* module, UrlLoad* load);
