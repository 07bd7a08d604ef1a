// The generic WBXML row: a body of application/vnd.wap.wbxml is re-typed by
// the public identifier in its second byte, and the row of that type handles
// the same data from the next step on.
#pragma once
#include <cstdint>

#include "browser/url.h"

// The content type id a one-byte public identifier stands for; 0 for none.
uint32_t WbxmlTypeOfPublicId(uint8_t publicId);

Result WbxmlContentProcess(UrlModuleContext* module, UrlLoad* load);
