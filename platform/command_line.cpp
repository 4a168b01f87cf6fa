// Windows command-line quoting and splitting, written without any Windows header so that both
// builds share it.
#include "platform/command_line.h"

namespace qwus {
namespace {

bool isArgumentSeparator(char16_t c) noexcept { return c == u' ' || c == u'\t'; }

bool needsQuotes(TextView argument) noexcept {
  if (argument.empty()) return true;
  for (char16_t c : argument) {
    if (c == u'"' || isWhiteSpace(c)) return true;
  }
  return false;
}

}  // namespace

Text quoteArgument(TextView argument) {
  if (!needsQuotes(argument)) return Text(argument);

  Text quoted(1, u'"');
  std::size_t backslashes = 0;
  for (char16_t c : argument) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    if (c == u'"') {
      // Backslashes before a quote are halved by the splitter, and an odd count makes the quote
      // literal: double them and add one.
      quoted.append(backslashes * 2 + 1, u'\\');
    } else {
      quoted.append(backslashes, u'\\');
    }
    backslashes = 0;
    quoted.push_back(c);
  }
  // The closing quote must not be escaped by trailing backslashes.
  quoted.append(backslashes * 2, u'\\');
  quoted.push_back(u'"');
  return quoted;
}

std::vector<Text> splitCommandLine(TextView commandLine) {
  std::vector<Text> arguments;
  std::size_t i = 0;
  const std::size_t n = commandLine.size();
  if (n == 0) return arguments;

  // The program name: up to the next quote when quoted, else up to the first blank or tab.
  // Backslashes and quotes have no meaning inside it.
  Text program;
  if (commandLine[0] == u'"') {
    for (i = 1; i < n && commandLine[i] != u'"'; ++i) program.push_back(commandLine[i]);
    if (i < n) ++i;  // the closing quote
  } else {
    for (; i < n && !isArgumentSeparator(commandLine[i]); ++i) program.push_back(commandLine[i]);
  }
  arguments.push_back(std::move(program));

  while (i < n && isArgumentSeparator(commandLine[i])) ++i;
  if (i == n) return arguments;

  // The other arguments. `quotes` is 0 outside quotes and 1 inside; runs of quotes count up to 3,
  // where every third one is a literal quote, as CommandLineToArgvW counts them.
  Text current;
  std::size_t backslashes = 0;
  int quotes = 0;
  while (i < n) {
    const char16_t c = commandLine[i];
    if (isArgumentSeparator(c) && quotes == 0) {
      arguments.push_back(std::move(current));
      current.clear();
      while (i < n && isArgumentSeparator(commandLine[i])) ++i;
      if (i == n) return arguments;
      backslashes = 0;
    } else if (c == u'\\') {
      current.push_back(c);
      ++backslashes;
      ++i;
    } else if (c == u'"') {
      current.resize(current.size() - backslashes / 2);
      if (backslashes % 2 == 0) {
        ++quotes;
      } else {
        current.back() = u'"';  // the last backslash escapes this quote
      }
      ++i;
      backslashes = 0;
      while (i < n && commandLine[i] == u'"') {
        if (++quotes == 3) {
          current.push_back(u'"');
          quotes = 0;
        }
        ++i;
      }
      if (quotes == 2) quotes = 0;
    } else {
      current.push_back(c);
      backslashes = 0;
      ++i;
    }
  }
  arguments.push_back(std::move(current));
  return arguments;
}

Text programFileName(TextView commandLine) {
  const std::vector<Text> arguments = splitCommandLine(commandLine);
  if (arguments.empty() || arguments.front().empty()) return {};
  const Text& program = arguments.front();
  if (program.find_first_of(u"\\/:") != Text::npos || program == u"." || program == u"..") {
    return {};
  }
  return program;
}

}  // namespace qwus
