#include "CommandQueue.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "StatusTexts.h"

CommandQueue::~CommandQueue() {
    Stop();
}

std::tm CommandQueue::LocalNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

bool CommandQueue::Setup(Transmitter& endpoint, WindowMailbox& window) {
    if (Sender.joinable()) return true;
    // Written once, before the dispatcher is armed: the receiver thread only ever reads it.
    std::memcpy(Sig, Signature, SignatureLength);
    Sig[SignatureLength] = '\0';
    {
        std::lock_guard<std::mutex> lock(Lock);
        for (CommandSlot& slot : Slots) {
            slot.State = 0;
            slot.TryCount = 0;
            slot.Interval = IntervalMs;
        }
    }
    Endpoint = &endpoint;
    Window = &window;
    try {
        Sender = std::thread(&CommandQueue::SenderThread, this);
    } catch (const std::system_error&) {
        return false; // the window reports it
    }
    return true;
}

void CommandQueue::Queue(uint8_t command, int port, int selectedIndex,
                         const PanelDirectory& directory, PanelRecord& pending) {
    const bool namesPanel = command == CMD_WRITE || command == CMD_DELETE_CARDS;
    if (!namesPanel && command != CMD_SEARCH) return; // no request layout for it
    if (namesPanel && (selectedIndex < 0 || selectedIndex >= DirectoryCapacity)) return;

    std::lock_guard<std::mutex> lock(Lock);
    CommandSlot* slot = nullptr;
    for (CommandSlot& candidate : Slots) {
        if (candidate.State == 0) {
            slot = &candidate;
            break;
        }
    }
    if (slot == nullptr) return; // all slots active: dropped without a word

    slot->Endpoint = Endpoint;
    slot->DestinationPort = port;
    std::snprintf(slot->DestinationAddress, sizeof slot->DestinationAddress, "%s",
                  BroadcastAddress);
    slot->FirstRoute[0] = '\0';
    if (namesPanel && Routes != nullptr)
        Routes->RouteOf(directory.Records[selectedIndex], slot->FirstRoute);
    if (command == CMD_SEARCH) {
        slot->Length = ComposeSearch(slot->Message, Sig);
    } else if (command == CMD_WRITE) {
        slot->Length = ComposeWrite(slot->Message, Sig, directory.Records[selectedIndex], pending);
    } else {
        slot->Length =
            ComposeDeleteCards(slot->Message, Sig, directory.Records[selectedIndex], Now());
    }
    slot->TryCount = FirstTry;
    slot->Interval = IntervalMs;
    slot->State = 1;
    ReleaseSemaphore();
}

void CommandQueue::Retire() {
    std::lock_guard<std::mutex> lock(Lock);
    for (CommandSlot& slot : Slots) {
        // A reply must never cancel a command that has not gone out yet.
        if (slot.State == 1 && slot.TryCount >= GiveUpTries) {
            slot.State = 0;
            break;
        }
    }
}

int CommandQueue::ActiveSlots() {
    std::lock_guard<std::mutex> lock(Lock);
    int active = 0;
    for (const CommandSlot& slot : Slots)
        active += slot.State == 1 ? 1 : 0;
    return active;
}

void CommandQueue::Stop() {
    {
        std::lock_guard<std::mutex> stop(StopMutex);
        Stopping = true;
    }
    StopSignal.notify_all();
    RunFlag.store(0);
    if (!Sender.joinable()) return;
    // Only this thread adds counts, so a full semaphore already lets the sender through.
    if (SemaphoreCount.load() < SemaphoreMax) ReleaseSemaphore();
    Sender.join();
}

void CommandQueue::ReleaseSemaphore() {
    // Count first, so that the semaphore itself never passes its maximum.
    int count = SemaphoreCount.load();
    do {
        if (count >= SemaphoreMax) {
            std::printf("ReleaseSemaphore error: %d\n", EOVERFLOW);
            std::fflush(stdout);
            return;
        }
    } while (!SemaphoreCount.compare_exchange_weak(count, count + 1));
    Semaphore.release();
}

bool CommandQueue::SleepInterval(int ms) {
    std::unique_lock<std::mutex> stop(StopMutex);
    return !StopSignal.wait_for(stop, std::chrono::milliseconds(ms), [this] { return Stopping; });
}

void CommandQueue::GiveUp(CommandSlot& slot) {
    const char* text = nullptr;
    switch (slot.Message[MessageHeader::CommandAt]) {
    case CMD_DELETE_CARDS:
    case CMD_WRITE:
        text = StatusText::WriteFault;
        break;
    case CMD_SEARCH:
        text = StatusText::ReadFault;
        break;
    default:
        break;
    }
    // This thread holds the lock the window thread queues under: it must never wait here.
    if (text != nullptr) Window->PostStatus(text, false);
    slot.State = 0;
    if (text != nullptr) Window->PostEnableButtons(false);
}

bool CommandQueue::RunPass() {
    std::lock_guard<std::mutex> lock(Lock);
    for (CommandSlot& slot : Slots) {
        if (slot.State != 1) continue;
        if (slot.TryCount < GiveUpTries) {
            slot.Endpoint->Transmit(slot.DestinationAddress, slot.DestinationPort, slot.Message,
                                    slot.Length, slot.FirstRoute);
            ++slot.TryCount;
        }
        if (!SleepInterval(slot.Interval)) return false;
        if (slot.TryCount >= GiveUpTries) GiveUp(slot);
    }
    for (const CommandSlot& slot : Slots) {
        if (slot.State == 1) return true;
    }
    return false;
}

void CommandQueue::SenderThread() {
    RunFlag.store(1);
    const auto stopping = [this] {
        std::lock_guard<std::mutex> stop(StopMutex);
        return Stopping;
    };
    while (RunFlag.load() == 1) {
        Semaphore.acquire();
        SemaphoreCount.fetch_sub(1);
        // Stop may come before this thread has set the run flag, so ask for it directly.
        if (stopping()) break;
        while (RunPass()) {
            if (stopping()) break;
        }
        if (stopping()) break;
    }
}
