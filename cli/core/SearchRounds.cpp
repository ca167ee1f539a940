#include "SearchRounds.h"

bool SearchRounds::AskAgain(std::size_t known, std::size_t heard, bool whole) {
    ++Rounds;
    Finding = known > Known;
    Known = known;
    // A round with drops may have lost new panels: it is no sign that none are left.
    if (Finding || !whole)
        Quiet = 0;
    else
        Quiet = heard == known ? QuietRounds : Quiet + 1;
    if (Rounds >= Limit) return false;
    return Rounds < Least || Quiet < QuietRounds;
}
