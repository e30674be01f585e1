// The live view's page, host/src/live/page.html, built into bvhost so the
// view needs no file beside it.
#pragma once

namespace bvhost {

extern const char* const kLivePage;

}  // namespace bvhost
