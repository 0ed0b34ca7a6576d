// Turns the export into the page: head, one table row per line and one cell
// per field, e-mail links, then the closing of the table and the foot.
#ifndef QUILLANTREX_CONVERT_PAGE_CONVERSION_H_
#define QUILLANTREX_CONVERT_PAGE_CONVERSION_H_

#include <string>

#include "convert/block_classify.h"

namespace quillantrex {

class SourceStream;
class OutputStream;

// Writes the whole page to `output`, which must be empty. Reads `source` from
// its start wherever it stands. Failures are left in the streams' failed().
// `path` picks how the scan classifies blocks; the page is the same.
void convert_table(SourceStream& source, OutputStream& output,
                   BlockPath path = fastest_block_path());

// PAGE_HEAD as written for a Windows-1252 (or plain ASCII) export, or for a
// UTF-8 one.
std::string page_head(bool utf8);

}  // namespace quillantrex

#endif  // QUILLANTREX_CONVERT_PAGE_CONVERSION_H_
