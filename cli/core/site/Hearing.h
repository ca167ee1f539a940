#pragma once

// What search rounds tell about the panels that did not answer. Every round measures the share
// of the panels known that answered it; a decision that rests on not hearing a panel waits
// until a panel that is there would have been heard all but surely.

#include <cstddef>
#include <string>

// A present panel may go unheard with at most this probability; a whole site may leave at most
// this many panels unheard, expected.
inline constexpr double Unsure = 1e-3;

class Hearing {
  public:
    // After a round: the panels known now (all rounds) and those the round heard. A round in
    // which the system dropped replies (`whole` false) tells nothing of the loss and is not
    // counted.
    void Round(std::size_t known, std::size_t heard, bool whole = true);

    int Rounds() const { return Counted; }
    std::size_t Known() const { return KnownPanels; }
    // The share of replies lost, in per cent, rounded: every known panel is taken to have been
    // there from the first round on.
    int LostPercent() const;
    // The probability that one panel that was there all along answered none of the rounds: the
    // loss measured, with the doubt that few rounds leave about it.
    double MissedAll() const;
    // A given panel that did not answer is surely not there.
    bool SureAbsent() const { return MissedAll() <= Unsure; }
    // Every panel there was heard, all but surely (nobody heard: nothing to measure, never sure).
    bool SureOfSite() const;
    // Rounds that a panel answering a round with probability `answered` needs to be heard all
    // but surely.
    static int RoundsNeeded(double answered);
    // MissedAll for one panel that answered `answered` of `rounds` rounds: how surely a twin
    // behind a link like its own would have been heard.
    static double MissedAllLike(int rounds, int answered);
    // Rounds that the loss measured needs for SureOfSite, from none; at least 1.
    int RoundsNeededForSite() const;

  private:
    int Counted = 0;
    std::size_t KnownPanels = 0;
    double Answers = 0; // panel-rounds answered, over the counted rounds
};

// "about N % of replies lost" and the --wait that the loss measured needs, for the messages of
// a search cut short by its deadline.
std::string LossText(const Hearing& hearing);
int WaitNeededMs(const Hearing& hearing, int roundMs);
