// The image rows over the decoders of outside formats: JPEG (the engine's
// own decoder) and PNG and MNG (through libpng and libmng).
#include "content/content_rows.h"
#include "content/collect.h"
#include "content/jpeg.h"
#include "content/mng.h"
#include "content/png.h"

namespace {

ContentSource SourceOf(const UrlModuleContext* module, const UrlLoad* load) {
  return ContentSource{load->announcedLength, load->delivered,
                       module ? module->workBuffer : nullptr, module ? module->workBufferSize : 0};
}

}  // namespace

Result JpegContentProcess(UrlModuleContext*, UrlLoad* load) {
  JpegStream io{&load->input, load->endOfData, (load->flags & UrlFlag::FitWidth) != 0,
                load->lookAhead, 0, nullptr};
  const Result r = JpegDecodeStep(reinterpret_cast<JpegDecoder**>(&load->handlerState), &io);
  load->events |= io.events;
  load->endOfData = io.endOfData;
  load->lookAhead = io.lookAhead;
  load->outputFree = ContentOutputFree;
  // Set only by the step that read the frame header: the image joins the
  // load's output then and grows band by band.
  if (io.image) UrlLoadAddOutput(load, reinterpret_cast<QueueNode*>(io.image));
  return r;
}

Result JpegContentRelease(UrlModuleContext*, UrlLoad* load) {
  JpegDecoderFree(reinterpret_cast<JpegDecoder**>(&load->handlerState));
  return kOk;
}

Result PngContentProcess(UrlModuleContext* module, UrlLoad* load) {
  ContentFeed feed = ContentFeedOf(load);
  const ContentSource source = SourceOf(module, load);
  const Result r = PngDecodeStep(reinterpret_cast<PngDecoder**>(&load->handlerState), &feed, &source);
  ContentFeedDone(load, feed);
  return r;
}

Result PngContentRelease(UrlModuleContext*, UrlLoad* load) {
  PngDecodeRelease(reinterpret_cast<PngDecoder**>(&load->handlerState));
  return kOk;
}

Result MngContentProcess(UrlModuleContext* module, UrlLoad* load) {
  ContentFeed feed = ContentFeedOf(load);
  const ContentSource source = SourceOf(module, load);
  const Result r = MngDecodeStep(reinterpret_cast<MngDecoder**>(&load->handlerState), &feed, &source);
  ContentFeedDone(load, feed);
  return r;
}

Result MngContentRelease(UrlModuleContext*, UrlLoad* load) {
  MngDecodeRelease(reinterpret_cast<MngDecoder**>(&load->handlerState));
  return kOk;
}
