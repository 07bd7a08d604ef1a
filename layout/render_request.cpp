#include "layout/render_request.h"

uintptr_t RenderRequestGetPage(const RenderRequest* request) {
  return request ? request->page : 0;
}
