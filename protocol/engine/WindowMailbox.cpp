#include "WindowMailbox.h"

#include "DuplicateRule.h"

WindowMailbox::WindowMailbox() : Ring{}, Taken{} {}

WindowMailbox::~WindowMailbox() = default;

bool WindowMailbox::PushLocked(std::unique_lock<std::mutex>& lock, const Change& change,
                               bool mayWait) {
    if (mayWait) {
        // Keep SenderReserve entries for the sender thread, which may not wait.
        RoomFreed.wait(lock, [this] { return Closed || Capacity - Size >= SenderReserve; });
    }
    if (Closed || Size == Capacity) return false;
    Ring[(Head + Size) % Capacity] = change;
    ++Size;
    if (Size == 1 && Wake) Wake->Signal();
    return true;
}

int WindowMailbox::TakeAll(Change* out) {
    const int taken = Size;
    for (int i = 0; i < taken; ++i)
        out[i] = Ring[(Head + i) % Capacity];
    Head = (Head + taken) % Capacity;
    Size = 0;
    return taken;
}

void WindowMailbox::ApplyTaken(int taken, WindowSink& sink) {
    for (int i = 0; i < taken; ++i) {
        const Change& change = Taken[i];
        switch (change.What) {
        case Kind::Status:
            sink.ApplyStatus(change.Text);
            break;
        case Kind::EnableButtons:
            sink.ApplyEnableButtons();
            break;
        case Kind::Panel:
            sink.ApplyPanel(change.Record);
            break;
        }
    }
}

void WindowMailbox::PostStatus(const char* text, bool mayWait) {
    Change change{};
    change.What = Kind::Status;
    change.Text = text;
    std::unique_lock<std::mutex> lock(Mutex);
    PushLocked(lock, change, mayWait);
}

void WindowMailbox::PostEnableButtons(bool mayWait) {
    Change change{};
    change.What = Kind::EnableButtons;
    std::unique_lock<std::mutex> lock(Mutex);
    PushLocked(lock, change, mayWait);
}

bool WindowMailbox::PostPanel(const PanelRecord& record) {
    Change change{};
    change.What = Kind::Panel;
    change.Record = record;
    std::unique_lock<std::mutex> lock(Mutex);
    // Wait for room first, so that the cap is judged against the count as it is when the
    // panel actually goes in (a search may have reset it meanwhile).
    RoomFreed.wait(lock, [this] { return Closed || Capacity - Size >= SenderReserve; });
    if (Closed || PanelsAccepted >= DirectoryCapacity) return false;
    if (OneLinePerPanel) {
        for (int i = 0; i < PanelsAccepted; ++i)
            if (SamePanel(Accepted[i], record)) return false;
    }
    if (!PushLocked(lock, change, false)) return false;
    Accepted[PanelsAccepted] = record;
    ++PanelsAccepted;
    return true;
}

void WindowMailbox::Drain(WindowSink& sink) {
    // Reset the wake first: a change posted after this point writes it again.
    if (Wake) Wake->Clear();
    int taken = 0;
    {
        std::lock_guard<std::mutex> lock(Mutex);
        taken = TakeAll(Taken);
    }
    RoomFreed.notify_all();
    ApplyTaken(taken, sink);
}

void WindowMailbox::ResetDirectory(WindowSink& sink, bool oneLinePerPanel) {
    // Panels of the previous search that are still on their way land before the caller clears
    // the list; everything posted after this belongs to the new search.
    if (Wake) Wake->Clear();
    int taken = 0;
    {
        std::lock_guard<std::mutex> lock(Mutex);
        taken = TakeAll(Taken);
        PanelsAccepted = 0;
        OneLinePerPanel = oneLinePerPanel;
    }
    RoomFreed.notify_all();
    ApplyTaken(taken, sink);
}

void WindowMailbox::Close() {
    {
        std::lock_guard<std::mutex> lock(Mutex);
        Closed = true;
    }
    RoomFreed.notify_all();
}
