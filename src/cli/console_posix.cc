// A POSIX terminal takes and shows UTF-8 bytes as they are.
#include "cli/console.h"

namespace quillantrex {

std::string read_console_word(std::FILE* in) {
  return read_word_bytes(in);
}

void write_console_name(std::FILE* out, std::string_view name) {
  write_bytes(out, name);
}

}  // namespace quillantrex
