// A POSIX terminal takes UTF-8 bytes as they are: nothing to do here.
#include "cli/console.h"

namespace quillantrex {

bool read_console_word(std::FILE*, std::string&) {
  return false;
}

bool write_console_name(std::FILE*, std::string_view) {
  return false;
}

}  // namespace quillantrex
