// Windows command-line rules, portable: quoting one argument and splitting a command line into
// arguments exactly as CommandLineToArgvW does.
#pragma once

#include <vector>

#include "platform/text.h"

namespace qwus {

// `argument` unchanged when CommandLineToArgvW would give it back as one argument as it stands
// (not empty, no white space, no double quote); otherwise the argument in double quotes with
// backslashes and quotes escaped so that CommandLineToArgvW gives back exactly `argument`.
Text quoteArgument(TextView argument);

// Splits a command line into its arguments by the rules of CommandLineToArgvW: the first argument
// (the program) ends at the first blank or tab unless quoted, and takes backslashes literally; the
// others follow the backslash-and-quote rules.
std::vector<Text> splitCommandLine(TextView commandLine);

}  // namespace qwus
