// Windows command-line rules, portable: quoting one argument, splitting a command line into
// arguments exactly as CommandLineToArgvW does, and the program file name it starts.
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

// The program of a command line, its first argument, when that is a plain file name: not empty,
// and free of the characters that name a folder or a drive ('\\', '/', ':'). Empty otherwise.
Text programFileName(TextView commandLine);

}  // namespace qwus
