// The conversion in its parts: the page's start, the rows, which can be
// converted a piece of the export at a time, and the page's end.
#ifndef QUILLANTREX_CONVERT_ROW_CONVERSION_H_
#define QUILLANTREX_CONVERT_ROW_CONVERSION_H_

#include "convert/block_classify.h"

namespace quillantrex {

class SourceStream;
class OutputStream;

// Where the rows stand between two pieces of the export, and how they ended.
struct RowState {
  bool quoted = false;  // inside a quoted run
  int previous = 0;     // the character before, for the closing step
  bool ended_in_address = false;
};

// Rewinds the source and writes the page's head and the table's opening.
void write_table_start(SourceStream& source, OutputStream& output);
// Converts the rest of `source` from `state`, which it leaves as the rows
// stand at the end.
void convert_rows(SourceStream& source, OutputStream& output, BlockPath path, RowState& state);
// Closes the table and writes the page's foot.
void write_table_end(OutputStream& output, const RowState& state);

}  // namespace quillantrex

#endif  // QUILLANTREX_CONVERT_ROW_CONVERSION_H_
