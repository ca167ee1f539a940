#include "Ui.h"

#include <memory>

namespace Cli {

Command AddUiCommand(CLI::App& app) {
    auto options = std::make_shared<UiOptions>();
    CLI::App* command =
        app.add_subcommand("ui", "commission a site in the browser: the site live, check, report");
    command->footer(WithExitCodes(
        "Serves the commissioning page on 127.0.0.1 (a free port unless --listen names one),\n"
        "prints its address with a secret key (new each run) and opens it in the default\n"
        "browser. FOLDER is the site: its plans (*.csv) and the reports written. Without it\n"
        "the page offers the folders of 'Call panel sites' in the documents folder. The page\n"
        "shows every panel as it answers and the report's address plan, checks the site\n"
        "against a plan and writes the handover report. Holds UDP port 8300 while it runs:\n"
        "a second 'callpanel ui' opens the running page. --listen on an address that is not\n"
        "loopback adds a view-only page there under a second key, for a phone on the site's\n"
        "network. Ctrl+C ends it (exit 130).",
        "  callpanel ui \"Block A\"\n"
        "  callpanel ui \"Block A\" --listen 10.1.0.5:8080"));
    command->add_option("FOLDER", options->Folder, "the site folder");
    command
        ->add_option("--listen", options->Listen,
                     "ADDRESS:PORT: 127.0.0.1:PORT for the page, or another address for a "
                     "view-only page beside it")
        ->check(NonEmpty);
    command->add_flag("--no-browser", options->NoBrowser, "print the address, open no browser");
    AddQuietFlag(command);
    return {command, [options] { return RunUi(*options); }};
}

int RunUi(const UiOptions& options) {
    return RunUiServer(options);
}

} // namespace Cli
