#include "Suggest.h"

#include <cstdio>
#include <string>

#include "text/Nearest.h"
#include "text/TerminalText.h"

namespace Cli {

namespace {

// "search, set, ... and assign", as the commands were added.
std::string CommandNames(const std::vector<Command>& commands) {
    std::string names;
    for (std::size_t i = 0; i < commands.size(); ++i)
        names += (i == 0                     ? ""
                  : i + 1 == commands.size() ? " and "
                                             : ", ") +
                 commands[i].Parsed->get_name();
    return names;
}

// The long names of a command's options (or the program's), without their dashes.
std::vector<std::string> LongNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::Option* option : app.get_options())
        for (const std::string& name : option->get_lnames())
            names.push_back(name);
    return names;
}

// "; did you mean X?" when a known name is near `typed`, else "".
std::string DidYouMean(const std::string& typed, const std::vector<std::string>& known,
                       const std::string& dashes = "") {
    const std::string meant = Nearest(typed, known, TypingEdits(typed));
    return meant.empty() ? "" : "; did you mean " + dashes + meant + "?";
}

// An option of the form --name or --name=value that `app` does not have, said; true then.
bool UnknownOption(const CLI::App& app, const std::string& argument, const std::string& help) {
    if (argument.size() <= 2 || argument.compare(0, 2, "--") != 0) return false;
    const std::string typed = argument.substr(2, argument.find('=') - 2);
    const std::vector<std::string> known = LongNames(app);
    for (const std::string& name : known)
        if (name == typed) return false;
    std::fprintf(stderr, "callpanel: unknown option '--%s'%s (%s)\n", TerminalText(typed).c_str(),
                 DidYouMean(typed, known, "--").c_str(), help.c_str());
    return true;
}

} // namespace

bool RefuseUnknown(const CLI::App& app, const std::vector<Command>& commands, int argc,
                   char** argv) {
    const std::string first = argv[1];
    if (first[0] == '-') {
        if (first == "-h") return false;
        if (first.compare(0, 2, "--") == 0) return UnknownOption(app, first, "callpanel --help");
        std::fprintf(stderr,
                     "callpanel: unknown option '%s' before the command (callpanel --help)\n",
                     TerminalText(first).c_str());
        return true;
    }
    const CLI::App* command = nullptr;
    std::vector<std::string> names;
    for (const Command& c : commands) {
        names.push_back(c.Parsed->get_name());
        if (c.Parsed->get_name() == first) command = c.Parsed;
    }
    if (command == nullptr) {
        // The nearest command when there is one, else all of them.
        const std::string meant = DidYouMean(first, names);
        std::fprintf(
            stderr, "callpanel: unknown command '%s'%s (callpanel --help)\n",
            TerminalText(first).c_str(),
            (meant.empty() ? "; the commands are " + CommandNames(commands) : meant).c_str());
        return true;
    }
    const std::string help = "callpanel " + first + " --help";
    for (int i = 2; i < argc && std::string(argv[i]) != "--"; ++i)
        if (UnknownOption(*command, argv[i], help)) return true;
    return false;
}

} // namespace Cli
