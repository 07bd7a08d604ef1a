// Bodies typed only as WBXML come from the network: the generic row reads
// the public identifier, hands the load to the row of that document type (or
// ends it), and that row takes the same data on. Whatever the bytes, the run
// ends, and the heap is whole and back where it started.
#include "content/content_rows.h"
#include "content/wbxml_row.h"
#include "fuzz/row_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool installed = (ContentRowsInstall(), true);
  (void)installed;
  FuzzRowRun(
      data, size, "http://h/doc.wbxml", 4u << 20,
      [](UrlLoad* load) {
        RowCheck(UrlSetContentTypeId(load, UrlType::Wbxml) == kOk);
        RowCheck(load->contentRow && load->contentRow->process == WbxmlContentProcess);
      },
      [](Result, UrlLoad*) {});
  return 0;
}
