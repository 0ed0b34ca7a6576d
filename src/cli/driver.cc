#include "cli/driver.h"

#include <array>
#include <cctype>
#include <string>
#include <string_view>

#include "cli/console.h"
#include "cli/console_texts.h"
#include "streams/output_stream.h"
#include "streams/source_stream.h"
#include "convert/page_conversion.h"

namespace quillantrex {

namespace {

void say(std::FILE* out, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), out);
}

// `name` is a file name, which a console may need to be shown differently.
void say_format(std::FILE* out, std::string_view format, std::string_view name) {
  std::size_t at = format.find("%s");
  say(out, format.substr(0, at));
  if (!write_console_name(out, name)) say(out, name);
  say(out, format.substr(at + 2));
}

// One word of any length: leading white space skipped, ended by the next
// white space or the end of input. Empty when input ends first.
std::string read_word(std::FILE* in) {
  int c;
  do c = std::fgetc(in);
  while (c != EOF && std::isspace(c));
  std::string word;
  for (; c != EOF && !std::isspace(c); c = std::fgetc(in)) word.push_back(static_cast<char>(c));
  return word;
}

int fail(std::FILE* out, std::string_view message) {
  say(out, message);
  std::fflush(out);
  return EXIT_FAILED;
}

}  // namespace

int run_tool(int argument_count, char** arguments, std::FILE* in, std::FILE* out) {
  say(out, BANNER);
  std::string name;
  if (argument_count > 1) {
    name = arguments[1];
  } else {
    say(out, PROMPT);
    std::fflush(out);
    if (!read_console_word(in, name)) name = read_word(in);
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
  say(out, DONE);
  say(out, CLOSING_BANNER);
  std::fflush(out);
  return 0;
}

}  // namespace quillantrex
