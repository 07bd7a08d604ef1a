// The content handlers' table and the frame of their rows.
#include "content/content_rows.h"

#include "browser/status.h"
#include "content/form_reply.h"
#include "content/handover_rows.h"
#include "content/handset_rows.h"
#include "content/movie_rows.h"
#include "content/pict_scheme.h"
#include "content/sound_sink.h"
#include "content/vcalca.h"
#include "content/wbmp.h"
#include "content/wbxml_row.h"
#include "content/wmlc_row.h"
#include "kernel/mem.h"
#include "kernel/qorrom.h"
#include "markup/html_node.h"

// In table order: a lookup by type id finds the first row with it, so rows
// that share an id (155-158) are reached by their MIME type or extension.
// Rows whose handlers the product does not have yet carry no operations.
const UrlContentTypeRow kContentTypeRows[] = {
    {WmlcContentProcess, WmlcContentRelease, "wmlc", 20, "application", "vnd.wap.wmlc;x-wap.wmlc", 3},
    {WmlcContentProcess, WmlcContentRelease, "wta-wmlc", 55, "application", "x-wap-wta-wmlc", 4},
    {WBmpContentProcess, WBmpContentRelease, "wbmp", 33, "image", "vnd.wap.wbmp;x-wap.wbmp", 5},
    {WbxmlContentProcess, nullptr, "wbxml", 41, "application", "vnd.wap.wbxml", 0},
    {SisContentProcess, SisContentRelease, "sis", 136, "image", "sis", 5},
    {QvxContentProcess, QvxContentRelease, "qvx", 158, "image", "qvx", 5},
    {QvxSaveContentProcess, QvxSaveContentRelease, "dummy_qvx_extension", 158, "application", "x-mm-qvx", 0},
    {PngContentProcess, PngContentRelease, "png", 32, "image", "png", 5},
    {MngContentProcess, MngContentRelease, "mng", 182, "image", "mng", 5},
    {UsatContentProcess, UsatContentRelease, "ust", 158, "application", "usat", 0},
    {NbmpContentProcess, NbmpContentRelease, "nbmp", 137, "image", "nbmp", 5},
    {NdwnContentProcess, NdwnContentRelease, "ndwn", 138, "application", "ndwn", 0},
    {PimsContentProcess, PimsContentRelease, "pims", 140, "application", "pims", 0},
    {PuiContentProcess, CollectedContentRelease, "pui", 139, "platform", "app", 0},
    {JpegContentProcess, JpegContentRelease, "jpg;jpeg", 30, "image", "jpeg", 5},
    {VcardContentProcess, VcardContentRelease, "vcf", 7, "text", "vcard;x-vcard", 2},
    {VcalContentProcess, VcalContentRelease, "vcl;vcs;ics", 6, "text", "vcal;x-vcal;x-vcalendar", 2},
    {FormContentProcess, FormContentRelease, "form", 18, "application", "x-www-form-urlencoded", 9},
    {nullptr, nullptr, "nsnd", 146, "audio;x-audio", "nsnd", 10},
    {nullptr, nullptr, "vib", 147, "audio;x-audio", "vib", 11},
    {nullptr, nullptr, "mmf", 148, "audio;x-audio", "mmf", 12},
    {nullptr, nullptr, "ma1", 149, "audio;x-audio", "ma1", 13},
    {nullptr, nullptr, "ma2", 150, "audio;x-audio", "ma2", 14},
    {nullptr, nullptr, "ma3", 151, "audio;x-audio", "ma3", 15},
    {nullptr, nullptr, "ma5", 157, "audio;x-audio", "ma5", 19},
    {nullptr, nullptr, "smaf", 152, "audio;x-audio", "smaf", 16},
    {nullptr, nullptr, "pmd", 153, "audio;x-audio", "pmd", 17},
    {nullptr, nullptr, "mid", 154, "audio;x-audio", "mid", 18},
    {GameInfoContentProcess, CollectedContentRelease, "game_info", 157, "application", "game_info", 0},
    {MediaContentProcess, CollectedContentRelease, "k3g", 155, "video", "k3g", 0},
    {MediaContentProcess, CollectedContentRelease, "k3g", 156, "audio", "k3g", 0},
    {ThreeDContentProcess, CollectedContentRelease, "3d", 155, "application", "3d", 0},
    {MapContentProcess, CollectedContentRelease, "map-nbmp", 155, "map", "nbmp", 0},
    {MapContentProcess, CollectedContentRelease, "map-sis", 155, "map", "sis", 0},
    {MapContentProcess, CollectedContentRelease, "map-jpeg", 155, "map", "jpeg", 0},
    {MapContentProcess, CollectedContentRelease, "map-gif", 155, "map", "gif", 0},
    {MapContentProcess, CollectedContentRelease, "map-wbmp", 155, "map", "wbmp", 0},
    {TbazarContentProcess, CollectedContentRelease, "tbz", 156, "application", "tbazar", 0},
};
const uint32_t kContentTypeRowCount = sizeof kContentTypeRows / sizeof kContentTypeRows[0];

const UrlSchemeRow kContentSchemeRows[] = {
    {PictSchemeStep, nullptr, "pict", nullptr, nullptr, PictSchemeStart, 0},
    {VcSchemeStep, nullptr, "addrbook", nullptr, nullptr, AddrbookSchemeStart, 0},
    {VcSchemeStep, nullptr, "calendar", nullptr, nullptr, CalendarSchemeStart, 0},
};
const uint32_t kContentSchemeRowCount = sizeof kContentSchemeRows / sizeof kContentSchemeRows[0];

namespace {
void ReleaseKeptImage(void* image) { ContentImageFree(static_cast<ContentImage*>(image)); }
}  // namespace

void ContentRowsInstall() {
  UrlSetHandlerRows(kContentTypeRows, kContentTypeRowCount, kContentSchemeRows,
                    kContentSchemeRowCount);
  HtmlSetImageObjectDecode(HtmlImageObjectDecode);
  StatusSetImageRelease(ReleaseKeptImage);
  VarParseInstallSources(kVcSources);
  RenderInstallRows(kSoundSinkRows, kSoundSinkRowCount);
}

void ContentRowsRemove() {
  UrlSetHandlerRows(nullptr, 0, nullptr, 0);
  HtmlSetImageObjectDecode(nullptr);
  StatusSetImageRelease(nullptr);
  VarParseInstallSources(nullptr);
  RenderInstallRows(nullptr, 0);
}

ContentFeed ContentFeedOf(UrlLoad* load) {
  return ContentFeed{&load->input, load->endOfData, &load->output, 0, load->flags};
}

void ContentFeedDone(UrlLoad* load, const ContentFeed& feed) {
  load->events |= feed.events;
  load->outputFree = ContentOutputFree;
}

void ContentFrameFree(ContentImageFrame* frame) {
  if (!frame) return;
  for (uint32_t i = 0; i < frame->bandCount; ++i) MemFree(&frame->bands[i]);
  MemFree(&frame);
}

ContentImageFrame* ContentFrameNew(uint32_t bands, uint32_t module) {
  if (bands == 0) bands = 1;
  const uint64_t bytes =
      sizeof(ContentImageFrame) + uint64_t{bands - 1} * sizeof(PglSurface*);
  if (bytes > UINT32_MAX) return nullptr;
  return static_cast<ContentImageFrame*>(
      MemAllocZero(static_cast<uint32_t>(bytes), Use::Data, module));
}

ContentImage* ContentAnimationNew(uint32_t width, uint32_t height, uint32_t module) {
  auto* image =
      static_cast<ContentImage*>(MemAllocZero(sizeof(ContentImage), Use::Data, module));
  if (!image) return nullptr;
  image->kind = ContentKind::Animation;
  image->width = static_cast<uint16_t>(width);
  image->height = static_cast<uint16_t>(height);
  return image;
}

void ContentImageFree(ContentImage* image) {
  if (!image) return;
  switch (image->kind) {
    case ContentKind::Banded:
      for (uint32_t i = 0; i < image->bandCount; ++i) MemFree(&image->bands[i]);
      break;
    case ContentKind::Stored:
      // The surface record is the image's; its pixels live in the file.
      MemFree(&image->stored);
      if (image->file) QorRomRelease(image->file);
      break;
    case ContentKind::Animation:
      // A pictogram animation's band records borrow their pixels from the
      // file image, which goes back to the built-in tree.
      if (image->file) QorRomRelease(image->file);
      for (ContentImageFrame* frame = image->firstFrame; frame;) {
        ContentImageFrame* next = frame->next;
        ContentFrameFree(frame);
        frame = next;
      }
      ContentFrameFree(image->currentFrame);
      MemFree(&image->keptBody);
      MemFree(&image->decoderState);
      MemFree(&image->text);
      break;
    default:
      break;
  }
  MemFree(&image);
}

void ContentOutputFree(UrlLoad*, QueueNode* object) {
  ContentImageFree(reinterpret_cast<ContentImage*>(object));
}

Result WBmpContentProcess(UrlModuleContext*, UrlLoad* load) {
  ContentFeed feed = ContentFeedOf(load);
  const Result r = WBmpDecodeStep(reinterpret_cast<WBmpDecoder**>(&load->handlerState), &feed);
  ContentFeedDone(load, feed);
  return r;
}

Result WBmpContentRelease(UrlModuleContext*, UrlLoad* load) {
  WBmpDecodeRelease(reinterpret_cast<WBmpDecoder**>(&load->handlerState));
  return kOk;
}
