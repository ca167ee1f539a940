#pragma once

#include "WindowWake.h"

// Linux: an eventfd, readable while a wake is pending; the window's loop watches Fd().
class EventfdWake final : public WindowWake {
  public:
    EventfdWake();
    ~EventfdWake();
    EventfdWake(const EventfdWake&) = delete;
    EventfdWake& operator=(const EventfdWake&) = delete;

    void Signal() override;
    void Clear() override;
    int Fd() const { return EventFd; }

  private:
    int EventFd = -1;
};
