// The page written behind the conversion: the kernel copies each write into
// the file on another core while the conversion goes on (io_uring on Linux).
#ifndef QUILLANTREX_STREAMS_WRITE_BEHIND_H_
#define QUILLANTREX_STREAMS_WRITE_BEHIND_H_

#include <memory>

#include "streams/file_access.h"

namespace quillantrex {

// `page`, whose descriptor is `fd`, wrapped so that its writes are made
// behind the conversion; `page` itself where the tool was built without
// liburing or the page is not a regular file (io_uring writes a pipe or a
// device as a stream, where pwrite refuses it or fails at once). The
// wrapper sets its ring up at the page's second write and writes plainly
// where the kernel refuses io_uring (too old, or a seccomp filter). It
// leaves the file as plain writes in the same order would.
std::unique_ptr<PageFile> write_page_behind(std::unique_ptr<PageFile> page, int fd);

// Whether `page`'s writes go behind the conversion: it came from
// write_page_behind() wrapped and the kernel gives it a ring. For tests that
// must tell which path they ran.
bool page_written_behind(PageFile& page);

}  // namespace quillantrex

#endif  // QUILLANTREX_STREAMS_WRITE_BEHIND_H_
