#pragma once

// callpanel delete-cards: one panel told to delete all its access cards, which cannot be undone.

#include <string>

#include "Options.h"

namespace Cli {

Command AddDeleteCardsCommand(CLI::App& app);
int RunDeleteCards(const std::string& panel, bool confirmed, const SearchOptions& search,
                   Format format);

} // namespace Cli
