// Rewrites an e-mail address into a mailto: link once the scan meets its "@",
// by stepping back through the page for the part already copied.
#ifndef QUILLANTREX_CONVERT_MAIL_LINK_H_
#define QUILLANTREX_CONVERT_MAIL_LINK_H_

namespace quillantrex {

class SourceStream;
class OutputStream;

// Called right after the scan read an "@" outside a quoted run. The link
// starts after the nearest ">", space or ";" in the page and runs to the next
// space, ";", line break or end of input in the export. On return `last`
// holds that terminator and the source is positioned to read it again.
void write_mail_link(SourceStream& source, OutputStream& output, int& last);

}  // namespace quillantrex

#endif  // QUILLANTREX_CONVERT_MAIL_LINK_H_
