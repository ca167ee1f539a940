#pragma once

// How the mailbox tells the window thread's event loop that changes wait: an eventfd that the
// loop watches on Linux, a message posted to the window on Windows.
class WindowWake {
  public:
    // Called from any thread, with the mailbox's lock held, for the first change after the last
    // drain.
    virtual void Signal() = 0;
    // Called on the window thread right before it takes the pending changes.
    virtual void Clear() = 0;

  protected:
    ~WindowWake() = default;
};
