#include "cli/driver.h"

#include <array>
#include <string>
#include <string_view>

#include "cli/console.h"
#include "cli/console_texts.h"
#include "convert/page_conversion.h"
#include "streams/output_stream.h"
#include "streams/source_stream.h"

namespace quillantrex {

namespace {

// `name` is a file name, which a console may need to be shown differently.
void say_format(std::FILE* out, std::string_view format, std::string_view name) {
  std::size_t at = format.find("%s");
  write_bytes(out, format.substr(0, at));
  write_console_name(out, name);
  write_bytes(out, format.substr(at + 2));
}

int fail(std::FILE* out, std::string_view message) {
  write_bytes(out, message);
  std::fflush(out);
  return EXIT_FAILED;
}

}  // namespace

int run_tool(int argument_count, char** arguments, std::FILE* in, std::FILE* out) {
  write_bytes(out, BANNER);
  std::string name;
  if (argument_count > 1) {
    name = arguments[1];
  } else {
    write_bytes(out, PROMPT);
    std::fflush(out);
    name = read_console_word(in);
  }

  std::unique_ptr<SourceStream> source = open_source(name);
  if (!source) {
    say_format(out, SOURCE_ERROR_FORMAT, name);
    return fail(out, "");
  }
  say_format(out, PROGRESS_FORMAT, name);
  std::fflush(out);

  const std::string output_name(OUTPUT_NAME);
  // Creating the page empties it: a source that is the page itself would be
  // destroyed before it is read.
  if (source->same_file_as(output_name)) {
    say_format(out, DESTINATION_ERROR_FORMAT, output_name);
    return fail(out, SAME_FILE_ERROR);
  }
  std::unique_ptr<OutputStream> output = create_output(output_name);
  if (!output) {
    say_format(out, DESTINATION_ERROR_FORMAT, output_name);
    return fail(out, "");
  }

  std::array<char, NAME_BUFFER_SIZE> first_line;
  if (!source->read_line(first_line.data(), first_line.size()))
    return fail(out, EMPTY_SOURCE_ERROR);

  convert_table(*source, *output);

  if (source->failed()) return fail(out, READ_ERROR);
  if (!output->close()) {
    say_format(out, WRITE_ERROR_FORMAT, output_name);
    return fail(out, "");
  }
  write_bytes(out, DONE);
  write_bytes(out, CLOSING_BANNER);
  std::fflush(out);
  return 0;
}

}  // namespace quillantrex
