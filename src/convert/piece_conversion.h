// The rows converted on two cores: the export cut into pieces that end
// after a line break, the second core converting the next piece into memory
// while this one converts the current one into the page.
#ifndef QUILLANTREX_CONVERT_PIECE_CONVERSION_H_
#define QUILLANTREX_CONVERT_PIECE_CONVERSION_H_

#include <cstddef>

#include "convert/block_classify.h"

namespace quillantrex {

class SourceStream;
class OutputStream;
struct RowState;

// How much of the export a core takes at a time, at least, and the setting
// for one core only. Only an export of PIECES_FROM pieces or more is cut:
// below that, starting the second thread and faulting in the memory for
// the pieces' pages cost more than the second core saves.
inline constexpr std::size_t PIECE_SIZE = 128 * 1024;
inline constexpr std::size_t NO_PIECES = 0;
inline constexpr std::size_t PIECES_FROM = 16;

// Converts the rows of `source`, from where it stands, in pieces of about
// `piece_size` bytes, as convert_rows() would. False, having read nothing,
// where pieces do not pay: an export of unknown size or shorter than
// PIECES_FROM pieces. Where no second thread can be started, it goes on
// alone.
bool convert_rows_in_pieces(SourceStream& source, OutputStream& output, BlockPath path,
                            std::size_t piece_size, RowState& state);

}  // namespace quillantrex

#endif  // QUILLANTREX_CONVERT_PIECE_CONVERSION_H_
