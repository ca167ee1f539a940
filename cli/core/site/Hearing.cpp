#include "site/Hearing.h"

#include <algorithm>
#include <cmath>

void Hearing::Round(std::size_t known, std::size_t heard, bool whole) {
    KnownPanels = std::max(KnownPanels, known);
    if (!whole) return;
    ++CountedRounds;
    AnsweredPanelRounds += double(std::min(heard, known));
}

int Hearing::LostPercent() const {
    const double asked = double(CountedRounds) * double(KnownPanels);
    if (asked <= 0) return 0;
    return int(std::lround(100.0 * (1.0 - AnsweredPanelRounds / asked)));
}

namespace {

// The answer share is uncertain after few rounds (one panel heard once says little): with
// Jeffreys' prior on it, the chance that a panel misses `rounds` rounds is the product below,
// the expected (1 - share)^rounds over what was measured.
double MissProbability(int rounds, double answered, double missed) {
    double probability = 1.0;
    for (int i = 0; i < rounds; ++i)
        probability *= (missed + 0.5 + i) / (answered + missed + 1.0 + i);
    return probability;
}

} // namespace

double Hearing::MissedInRow(int rounds, double answered, double missed) {
    return MissProbability(rounds, answered, missed);
}

double Hearing::MissedAll() const {
    return MissProbability(CountedRounds, AnsweredPanelRounds,
                           double(CountedRounds) * double(KnownPanels) - AnsweredPanelRounds);
}

double Hearing::MissedAllLike(int rounds, int answered) {
    return MissProbability(rounds, answered, rounds - answered);
}

bool Hearing::SureOfSite(double missAllowed) const {
    return KnownPanels > 0 && double(KnownPanels + 1) * MissedAll() <= missAllowed;
}

int Hearing::RoundsNeeded(double answerProbability, double missAllowed) {
    if (answerProbability >= 1.0) return 1;
    if (answerProbability <= 0.0) return 1000;
    return int(std::ceil(std::log(missAllowed) / std::log(1.0 - answerProbability) - 1e-9));
}

Millis ListenFor(const Hearing& hearing, Millis least) {
    return std::max(least, 2 * hearing.Lateness());
}

int Hearing::RoundsNeededForSite(double missAllowed) const {
    if (KnownPanels == 0 || CountedRounds == 0) return 1;
    // Assumes that the rounds to come answer in the share measured so far, and counts how many
    // of them the site would need.
    const double share = AnsweredPanelRounds / (double(CountedRounds) * double(KnownPanels));
    Hearing ahead;
    ahead.KnownPanels = KnownPanels;
    for (int rounds = 1; rounds < 1000; ++rounds) {
        ahead.CountedRounds = rounds;
        ahead.AnsweredPanelRounds = share * rounds * double(KnownPanels);
        if (ahead.SureOfSite(missAllowed)) return rounds;
    }
    return 1000;
}

std::string LossText(const Hearing& hearing) {
    return "about " + std::to_string(hearing.LostPercent()) + " % of replies lost";
}

int WaitNeededMs(const Hearing& hearing, int roundMs) {
    // Suggests half as much again as the rounds the loss measured needs, a margin over what was
    // measured, rounded up to whole seconds.
    const int ms = hearing.RoundsNeededForSite() * roundMs * 3 / 2;
    return std::max(1, (ms + 999) / 1000) * 1000;
}
