// The generic WBXML row.
#include "content/wbxml_row.h"

#include "kernel/datachunk.h"

namespace {

struct PublicIdType {
  uint8_t publicId;
  uint32_t typeId;
};

// WML 1.0 to 1.3 and WTA-WML, SI, SL, channel 1.1 and 1.2, provisioning.
constexpr PublicIdType kPublicIds[] = {
    {2, UrlType::Wmlc}, {4, UrlType::Wmlc}, {9, UrlType::Wmlc},  {10, UrlType::Wmlc},
    {12, UrlType::Wmlc}, {5, UrlType::Sic}, {6, UrlType::Slc},   {8, 22},
    {13, 22},            {11, UrlType::ConnectivityWbxml},       {0, 0},
};

}  // namespace

uint32_t WbxmlTypeOfPublicId(uint8_t publicId) {
  for (const PublicIdType* row = kPublicIds; row->publicId; ++row)
    if (row->publicId == publicId) return row->typeId;
  return 0;
}

Result WbxmlContentProcess(UrlModuleContext*, UrlLoad* load) {
  // The second byte of the body, which may lie in a later block when the
  // body arrives in pieces.
  uint32_t seen = 0;
  int second = -1;
  for (QueueNode* node = load->input.head; node && second < 0; node = node->next) {
    const UtilDataChunk* chunk = UtilDataChunkOf(node);
    if (seen + chunk->remaining > 1) second = UtilDataChunkData(chunk)[chunk->offset + 1 - seen];
    seen += chunk->remaining;
  }
  if (second < 0) {
    if (load->endOfData) load->events |= UrlEvent::Complete;  // too short to be a document
    return kOk;
  }
  const uint32_t typeId = WbxmlTypeOfPublicId(static_cast<uint8_t>(second));
  if (typeId == 0) {
    load->events |= UrlEvent::Complete;  // a document type the browser does not handle
    return kOk;
  }
  return UrlSetContentTypeId(load, typeId);
}
