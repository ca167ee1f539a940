#include "EventfdWake.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

EventfdWake::EventfdWake() : EventFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

EventfdWake::~EventfdWake() {
    if (EventFd >= 0) close(EventFd);
}

void EventfdWake::Signal() {
    const uint64_t one = 1;
    // A full counter only means the window thread is already due to drain.
    if (EventFd >= 0 && write(EventFd, &one, sizeof one) < 0) {
    }
}

void EventfdWake::Clear() {
    uint64_t counter = 0;
    // Nothing to read just means no wake was pending.
    if (EventFd >= 0 && read(EventFd, &counter, sizeof counter) < 0) {
    }
}
