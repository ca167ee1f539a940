#pragma once

// Commands and options the program does not have, refused before CLI11 parses with the one the
// user most likely meant: CLI11 2.1 says only that an argument was not expected.

#include <CLI/CLI.hpp>
#include <vector>

#include "Options.h"

namespace Cli {

// True after saying what in the arguments is no command or option of `app`, and what was
// meant where a name is near enough. The arguments after "--" are left alone.
bool RefuseUnknown(const CLI::App& app, const std::vector<Command>& commands, int argc,
                   char** argv);

} // namespace Cli
