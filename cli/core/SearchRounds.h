#pragma once

// When `search` stops asking: panels that answer a round can be missed by another (a lost
// request or reply), so it asks again while rounds still add panels.

#include <cstddef>

class SearchRounds {
  public:
    // Rounds in a row that added nobody before the search ends; one is enough when the round
    // heard every panel known.
    static constexpr int QuietRounds = 3;
    static constexpr int Limit = 16;

    explicit SearchRounds(int least) : Least(least) {}

    // After a round: the panels known now (all rounds), those the round heard, and whether no
    // reply was dropped by the system in it. True while another round is wanted.
    bool AskAgain(std::size_t known, std::size_t heard, bool whole);
    // The last round added panels: the list may still be short.
    bool StillFinding() const { return Finding; }
    int Done() const { return Rounds; }

  private:
    int Least;
    int Rounds = 0;
    int Quiet = 0;
    std::size_t Known = 0;
    bool Finding = false;
};
