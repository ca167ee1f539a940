#include "DeleteCards.h"

#include <cstring>
#include <memory>

#include "Common.h"
#include "PanelTexts.h"
#include "text/MessageText.h"

namespace Cli {

namespace {

// delete-cards sends the request up to DeleteAttempts times until the panel answers.
constexpr int DeleteAttempts = 10;

// The request names the identity: every panel that has it deletes its cards. Refused, with
// the panels named, when another one found shares it.
bool RefuseSharedIdentity(const std::vector<FoundPanel>& found, const FoundPanel& panel) {
    std::vector<std::string> sharing;
    for (const FoundPanel& p : found)
        if (std::memcmp(&p.Record.TypeLetter, &panel.Record.TypeLetter, PanelIdentityLength) == 0)
            sharing.push_back(Described(p));
    if (sharing.size() <= 1) return false;
    Error("refused: " + Joined(sharing, ", ") + " share the identity " +
          FieldText(&panel.Record.TypeLetter, PanelIdentityLength) +
          ", and the card deletion names the identity, so all of them would delete their "
          "cards; give one of them another address first (callpanel set MAC --address ...)");
    return true;
}

} // namespace

Command AddDeleteCardsCommand(CLI::App& app) {
    struct Options {
        std::string Panel;
        bool Confirmed = false;
        SearchOptions Search;
        std::string Format = "table";
    };
    auto options = std::make_shared<Options>();
    CLI::App* command =
        app.add_subcommand("delete-cards", "tell one panel to delete all its access cards");
    command->footer(WithExitCodes(
        "It cannot be undone, so it decides at a doubt of 10^-6: searches at least 31\n"
        "times, every 60 ms (what 40 % loss each way needs), more while the loss\n"
        "measured is worse, then listens 1.5 s (twice the largest reply delay measured,\n"
        "when longer) for late replies, for panels sharing the identity; a twin whose\n"
        "every reply is lost or that answers over about 3.3 s late is not seen. Refused\n"
        "(exit 2) when --wait comes first. Sends\n"
        "the request until the panel answers (up to 10 times); exit 0 on \"Del\n"
        "Success\", 1 without a reply. Refused (exit 2) when other panels found share\n"
        "the panel's identity (all would delete), or when the system dropped replies\n"
        "in every search round (a panel may be missing).",
        "  callpanel delete-cards 00:50:2A:10:00:A5 --yes"));
    command->add_option("PANEL", options->Panel, "the panel's MAC, current IP or identity")
        ->required()
        ->check(NonEmpty);
    command->add_flag("--yes", options->Confirmed, "really delete the cards");
    AddDeadlineOptions(command, options->Search);
    AddFormatOption(command, options->Format);
    AddQuietFlag(command);
    return {command, [options] {
                return RunDeleteCards(options->Panel, options->Confirmed, options->Search,
                                      FormatNamed(options->Format));
            }};
}

int RunDeleteCards(const std::string& panelName, bool confirmed, const SearchOptions& search,
                   Format format) {
    if (!confirmed) {
        Error("delete-cards deletes every access card of the panel and cannot be undone; "
              "add --yes to do it");
        return ExitRefused;
    }
    Engine engine;
    if (const int code = OpenEngine(engine)) return code;
    // The search counts whole rounds and then listens for late replies, because a panel sharing
    // the identity may answer later, or through more loss, than the one named.
    const Searched searched = SearchUntil(engine, CardSearch(search, panelName));
    if (RefuseIncompleteView(searched.All, engine)) return ExitRefused;
    ReportLoss(searched.All, engine);
    int exitCode = ExitOk;
    const FoundPanel* panel = OnePanel(searched, panelName, exitCode);
    if (panel == nullptr) return exitCode;
    if (RefuseSharedIdentity(searched.Found, *panel)) return ExitRefused;
    if (!searched.Decided)
        return NotSure("no other panel shares the identity of '" + panelName + "'", searched.Heard,
                       search, "no card was deleted");
    const std::string name = MacText(panel->Record.Mac);
    const PanelRecord target = panel->Record;
    // Only the target's own address answers for it.
    if (!engine.DeleteCards(
            target, [&](const std::string& source) { return CreditsWrite(source, target, target); },
            DeleteAttempts)) {
        Error(name + ": no reply to the card deletion after " + std::to_string(DeleteAttempts) +
              " requests");
        PrintResult(name, "no reply", "", format);
        return ExitFailed;
    }
    PrintResult(name, "Del Success", "", format);
    return ExitOk;
}

} // namespace Cli
