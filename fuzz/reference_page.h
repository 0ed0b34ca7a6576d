// The page made the slow, plain way: the whole page held in a string and an
// e-mail link found by searching that string backwards. The streaming
// conversion, with its buffer windows and its copies inside the file, must
// write exactly these bytes.
#ifndef QUILLANTREX_FUZZ_REFERENCE_PAGE_H_
#define QUILLANTREX_FUZZ_REFERENCE_PAGE_H_

#include <string>
#include <string_view>

namespace quillantrex {

// The bytes of carnet.htm for an export of these bytes.
std::string reference_page(std::string_view export_bytes);

}  // namespace quillantrex

#endif  // QUILLANTREX_FUZZ_REFERENCE_PAGE_H_
