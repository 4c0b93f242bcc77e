// Text a page posts, cut to what its control accepts before the app sees it.
//
//   std::string kept = cutPostedText(posted, 30, /*multiline=*/false);
//
// Threads: any.
#pragma once

#include <cstddef>
#include <string>

namespace web {

// Cuts posted text to what a control accepts: line breaks only in a multi-line field (a
// single-line one gets none), no other control characters but tabs, and at most `maxLength`
// user-perceived characters; malformed UTF-8 becomes U+FFFD.
std::string cutPostedText(const std::string& text, size_t maxLength, bool multiline);

}  // namespace web
