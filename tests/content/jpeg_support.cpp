#include "tests/content/jpeg_support.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include <jpeglib.h>

#include "kernel/datachunk.h"
#include "kernel/libc.h"
#include "kernel/mem.h"

namespace {

void Flatten(const ContentImage* image, JpegRun* run) {
  run->made = true;
  run->width = image->width;
  run->height = image->height;
  run->bandCount = image->bandCount;
  run->pixels.assign(size_t{run->width} * run->height, 0);
  uint32_t y = 0;
  for (uint32_t b = 0; b < image->bandCount; ++b) {
    const PglSurface* band = image->bands[b];
    run->bandRows.push_back(band ? band->height : 0);
    if (!band) continue;
    const auto* px = reinterpret_cast<const uint16_t*>(PglPixels(band));
    for (uint32_t r = 0; r < band->height && y < run->height; ++r, ++y)
      for (uint32_t x = 0; x < run->width; ++x)
        run->pixels[size_t{y} * run->width + x] = px[size_t{r} * band->pitch + x];
  }
}

}  // namespace

JpegRun JpegRunDecode(const std::vector<uint8_t>& body, uint32_t block, bool trickle, bool fit) {
  JpegRun run;
  Queue input{};
  JpegStream io{&input, 0, fit ? 1u : 0u, -1, 0, nullptr};
  JpegDecoder* state = nullptr;
  const uint32_t size = static_cast<uint32_t>(body.size());
  const uint32_t chunk = block ? block : (size ? size : 1);
  uint32_t sent = 0;
  auto queueOne = [&] {
    const uint32_t n = size - sent < chunk ? size - sent : chunk;
    UtilDataChunkAppend(&input, body.data() + sent, n, Mod::TestCode);
    sent += n;
  };
  if (!trickle) {
    while (sent < size) queueOne();
    io.endOfData = 1;
  }
  for (uint32_t guard = 0; guard < 50000000; ++guard) {
    if (trickle) {
      if (sent < size) queueOne();
      if (sent >= size) io.endOfData = 1;
    }
    run.result = JpegDecodeStep(&state, &io);
    if (run.result || (io.events & JpegEvent::Complete)) break;
  }
  run.events = io.events;
  JpegDecoderFree(&state);
  UtilDataChunkFreeQueue(&input);
  if (io.image) Flatten(io.image, &run);
  JpegImageFree(&io.image);
  return run;
}

std::vector<uint8_t> JpegReadFile(const std::string& name) {
  std::ifstream in(std::string(QOR_JPEG_DATA_DIR) + "/" + name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

JpegReference JpegReferenceDecode(const std::vector<uint8_t>& body) {
  JpegReference ref;
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, body.data(), static_cast<unsigned long>(body.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.dct_method = JDCT_ISLOW;
  cinfo.do_fancy_upsampling = FALSE;
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  ref.width = cinfo.output_width;
  ref.height = cinfo.output_height;
  ref.rgb.resize(size_t{ref.width} * ref.height * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = ref.rgb.data() + size_t{cinfo.output_scanline} * ref.width * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return ref;
}
