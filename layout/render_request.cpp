#include "layout/render_request.h"

uintptr_t RenderRequestGetPage(const RenderRequest* request) {
  return request ? request->page : 0;
}

uint32_t RenderRequestGetAccessOk(const RenderRequest* request) {
  return request ? request->accessOk : 0;
}
