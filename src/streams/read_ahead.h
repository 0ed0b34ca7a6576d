// The export read ahead of the conversion: the kernel copies the next part
// of it into the source stream's other buffer on another core while the
// conversion goes on (io_uring on Linux).
#ifndef QUILLANTREX_STREAMS_READ_AHEAD_H_
#define QUILLANTREX_STREAMS_READ_AHEAD_H_

#include <memory>

#include "streams/file_access.h"

namespace quillantrex {

// `source`, whose descriptor is `fd`, wrapped so that a read it is told of
// with prefetch() starts at once on the kernel's side; `source` itself where
// the tool was built without liburing, the export is smaller than
// KERNEL_HELP_FROM or it is not a regular file, which is one that tells no
// size(). Where the kernel refuses io_uring, reads stay plain.
std::unique_ptr<SourceFile> read_source_ahead(std::unique_ptr<SourceFile> source, int fd);

}  // namespace quillantrex

#endif  // QUILLANTREX_STREAMS_READ_AHEAD_H_
