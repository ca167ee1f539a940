#include "text/Nearest.h"

#include <algorithm>

std::size_t EditDistance(std::string_view a, std::string_view b) {
    // The table keeps three rows, because the swap of two neighbours looks two characters back.
    std::vector<std::size_t> before(b.size() + 1), previous(b.size() + 1), row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        before.swap(previous);
        previous.swap(row);
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            row[j] = std::min({previous[j] + 1, row[j - 1] + 1,
                               previous[j - 1] + (a[i - 1] != b[j - 1] ? 1 : 0)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                row[j] = std::min(row[j], before[j - 2] + 1);
        }
    }
    return row[b.size()];
}

std::string Nearest(std::string_view typed, const std::vector<std::string>& known,
                    std::size_t within) {
    std::string best;
    std::size_t nearest = within + 1;
    for (const std::string& name : known)
        if (const std::size_t d = EditDistance(typed, name); d < nearest) nearest = d, best = name;
    if (!best.empty() || typed.size() < 3) return best;
    std::size_t begun = 0;
    for (const std::string& name : known)
        if (name.size() > typed.size() && name.compare(0, typed.size(), typed) == 0)
            ++begun, best = name;
    return begun == 1 ? best : "";
}

std::size_t TypingEdits(std::string_view typed) {
    return typed.size() <= 5 ? 1 : 2;
}
