#pragma once

// What search rounds tell about the panels that did not answer. Every round measures the share
// of the panels known that answered it; a decision that rests on not hearing a panel waits
// until a panel that is there would have been heard all but surely.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <string>

using Millis = std::chrono::milliseconds;

// The probability with which a decision may still miss a panel that is there: one panel may go
// unheard with at most this probability, and a whole site may leave at most this many panels
// unheard, expected.
inline constexpr double MissProbabilityAllowed = 1e-3;
// The same probability for what cannot be put right by anyone who notices: cards deleted, or a
// door given another door's call address, which is found only when a visitor rings the wrong
// flat.
inline constexpr double LastingMissProbabilityAllowed = 1e-6;

class Hearing {
  public:
    // After a round: the panels known now (all rounds) and those the round heard. A round in
    // which the system dropped replies (`whole` false) tells nothing of the loss and is not
    // counted.
    void Round(std::size_t known, std::size_t heard, bool whole = true);

    int Rounds() const { return CountedRounds; }
    // Panel-rounds answered and missed, over the counted rounds.
    double Answered() const { return AnsweredPanelRounds; }
    double MissedReplies() const {
        return double(CountedRounds) * double(KnownPanels) - AnsweredPanelRounds;
    }
    std::size_t Known() const { return KnownPanels; }
    // The share of replies lost, in per cent, rounded: every known panel is taken to have been
    // there from the first round on.
    int LostPercent() const;
    // The probability that one panel that was there all along answered none of the rounds: the
    // loss measured, with the doubt that few rounds leave about it.
    double MissedAll() const;
    // A given panel that did not answer is surely not there.
    bool SureAbsent() const { return MissedAll() <= MissProbabilityAllowed; }
    // Every panel there was heard, all but surely (nobody heard: nothing to measure, never
    // sure). A panel never heard is one more that may be there: the known ones and it, N + 1,
    // share the doubt.
    bool SureOfSite(double missAllowed = MissProbabilityAllowed) const;
    // Rounds that a panel answering a round with probability `answerProbability` needs to be
    // heard all but surely.
    static int RoundsNeeded(double answerProbability, double missAllowed = MissProbabilityAllowed);
    // MissedAll for one panel that answered `answered` of `rounds` rounds: how surely a twin
    // behind a link like its own would have been heard.
    static double MissedAllLike(int rounds, int answered);
    // The probability that a panel misses `rounds` rounds in a row, after `answered` rounds
    // answered and `missed` missed were seen (the doubt that few leave counts).
    static double MissedInRow(int rounds, double answered, double missed);
    // Rounds that the loss measured needs for SureOfSite, from none; at least 1.
    int RoundsNeededForSite(double missAllowed = MissProbabilityAllowed) const;

    // Lateness, measured like loss: the largest delay of a reply seen in the run (`Late` of
    // each reply, at least the time since the request it answers).
    void Late(Millis delay) { LargestDelay = std::max(LargestDelay, delay); }
    Millis Lateness() const { return LargestDelay; }

  private:
    int CountedRounds = 0;
    std::size_t KnownPanels = 0;
    double AnsweredPanelRounds = 0; // over the counted rounds
    Millis LargestDelay{0};         // of any reply seen in the run
};

// How long to listen for replies after a request so that one as late as the lateness measured
// still comes: twice the largest delay seen (the measure is the least the delay was, as a reply
// is timed from the last request before it), and never less than `least`.
Millis ListenFor(const Hearing& hearing, Millis least);

// "about N % of replies lost" and the --wait that the loss measured needs, for the messages of
// a search cut short by its deadline.
std::string LossText(const Hearing& hearing);
int WaitNeededMs(const Hearing& hearing, int roundMs);
