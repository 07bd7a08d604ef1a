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

// PNG and MNG collect the whole body for their library and share one form.
template <class State, Result (*Step)(State**, ContentFeed*, const ContentSource*),
          void (*Release)(State**)>
struct LibraryRow {
  static Result Process(UrlModuleContext* module, UrlLoad* load) {
    const UrlWorkBufferUse held(module);
    ContentFeed feed = ContentFeedOf(load);
    const ContentSource source = SourceOf(module, load);
    const Result r = Step(reinterpret_cast<State**>(&load->handlerState), &feed, &source);
    ContentFeedDone(load, feed);
    return r;
  }
  static Result End(UrlModuleContext*, UrlLoad* load) {
    Release(reinterpret_cast<State**>(&load->handlerState));
    return kOk;
  }
};
using PngRow = LibraryRow<PngDecoder, PngDecodeStep, PngDecodeRelease>;
using MngRow = LibraryRow<MngDecoder, MngDecodeStep, MngDecodeRelease>;

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
  return PngRow::Process(module, load);
}
Result PngContentRelease(UrlModuleContext* module, UrlLoad* load) {
  return PngRow::End(module, load);
}
Result MngContentProcess(UrlModuleContext* module, UrlLoad* load) {
  return MngRow::Process(module, load);
}
Result MngContentRelease(UrlModuleContext* module, UrlLoad* load) {
  return MngRow::End(module, load);
}
