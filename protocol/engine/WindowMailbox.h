#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "PanelRecord.h"
#include "WindowWake.h"
#ifndef _WIN32
#include "EventfdWake.h"
#endif

// What the window thread does with the changes the sender and receiver threads request.
class WindowSink {
  public:
    virtual void ApplyStatus(const char* text) = 0; // a static text, UTF-8
    virtual void ApplyEnableButtons() = 0;          // Button1, Button2, Button3 in that order
    virtual void ApplyPanel(const PanelRecord& record) = 0; // store record, add its line, count it

  protected:
    ~WindowSink() = default;
};

// Carries window changes from the sender and receiver threads to the window thread, in the
// order requested, without the requesting thread waiting for the window thread. Data passes
// through a fixed ring under a std::mutex; a WindowWake only wakes the window thread (on Linux
// the mailbox's own eventfd unless another wake is set).
class WindowMailbox {
  public:
    static constexpr int Capacity = 2048;
    // Room kept for the sender thread, which holds the queue's lock and must never wait.
    static constexpr int SenderReserve = 256;

    WindowMailbox();
    ~WindowMailbox();
    WindowMailbox(const WindowMailbox&) = delete;
    WindowMailbox& operator=(const WindowMailbox&) = delete;

    // Called from any thread. The receiver thread (mayWait) waits for room when the ring is
    // nearly full; the sender thread never waits and drops a change only if the ring is full.
    void PostStatus(const char* text, bool mayWait);
    void PostEnableButtons(bool mayWait);
    // Called on the receiver thread. Returns false, and posts nothing, when the directory already
    // holds 100 records counting those still on their way to the window, or already holds this
    // panel (SamePanel) when the search asked for one line per panel.
    bool PostPanel(const PanelRecord& record);

    // Called on the window thread: applies every pending change, in order.
    void Drain(WindowSink& sink);
    // Called on the window thread when a search starts: applies what is pending, then counts the
    // directory from zero again. With oneLinePerPanel (the search leaves by more than one
    // route, so a panel may answer each copy) PostPanel refuses a panel this search already
    // holds; panels that only share a MAC keep a line each.
    void ResetDirectory(WindowSink& sink, bool oneLinePerPanel = false);
    // Wakes a waiting poster and refuses further changes; for shutdown.
    void Close();

    // Called on the window thread before the sender and receiver threads start: sets how a
    // post wakes the window thread.
    void SetWake(WindowWake& wake) { Wake = &wake; }
#ifndef _WIN32
    // Readable when changes are pending and the mailbox's own wake is in use.
    int WakeFd() const {
        return OwnWake.Fd();
    }
#endif

  private:
    enum class Kind : unsigned char { Status, EnableButtons, Panel };
    struct Change {
        Kind What;
        const char* Text;
        PanelRecord Record;
    };

    bool PushLocked(std::unique_lock<std::mutex>& lock, const Change& change, bool mayWait);
    int TakeAll(Change* out);
    void ApplyTaken(int taken, WindowSink& sink); // window thread, without the lock

    std::mutex Mutex;
    std::condition_variable RoomFreed;
    Change Ring[Capacity];
    int Head = 0;
    int Size = 0;
    int PanelsAccepted = 0;
    bool OneLinePerPanel = false;
    PanelRecord Accepted[DirectoryCapacity] = {};
    bool Closed = false;
#ifndef _WIN32
    EventfdWake OwnWake;
    WindowWake* Wake = &OwnWake;
#else
    WindowWake* Wake = nullptr;
#endif
    Change Taken[Capacity]; // window thread only
};
