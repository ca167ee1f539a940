#pragma once

// callpanel set: new settings written into one panel, named by its MAC, IP address or identity.

#include <map>
#include <string>

#include "Options.h"

namespace Cli {

struct SetOptions {
    std::string Panel; // a MAC, a current IP address or an identity
    // Plan column name -> new value; "mac" holds the last three bytes, XX:XX:XX.
    std::map<std::string, std::string> Changes;
    SearchOptions Search;
    int Rounds = DefaultRounds;
    Format Output = Format::Table;
    std::string UndoPath;   // empty: a new file in the state folder
    bool AsWritten = false; // a type and address that read back as another are written
};

Command AddSetCommand(CLI::App& app);
int RunSet(const SetOptions& options);

// set --mac: XX:XX:XX or XX-XX-XX, or a whole MAC beginning with 00:50:2A in either spelling, as
// the last three bytes XX:XX:XX; any other text as it is, for the checks to refuse.
std::string MacTail(const std::string& text);

} // namespace Cli
