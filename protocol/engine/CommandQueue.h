#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <semaphore>
#include <thread>

#include "MessageFormat.h"
#include "PanelRecord.h"
#include "ReplyRoutes.h"
#include "Transmitter.h"
#include "WindowMailbox.h"

struct CommandSlot {
    int State;    // 0 free, 1 active
    int TryCount; // transmissions counted; given up at GiveUpTries
    Transmitter* Endpoint;
    char DestinationAddress[20];
    int DestinationPort;
    char FirstRoute[ReplyRoutes::AddressSize]; // where the named panel answered; "" for none
    MessageBuffer Message;
    int Interval; // milliseconds after the transmission
    int Length;   // meaningful length handed to the endpoint
};

class CommandQueue {
  public:
    static constexpr int SlotCount = 100;
    static constexpr int SemaphoreMax = 100;
    static constexpr int IntervalMs = 100;
    static constexpr int FirstTry = 9;
    static constexpr int GiveUpTries = 10;
    static constexpr int DestinationPort = 8300;
    static constexpr const char* BroadcastAddress = "255.255.255.255";

    using Clock = std::tm (*)();

    CommandQueue() = default;
    ~CommandQueue();
    CommandQueue(const CommandQueue&) = delete;
    CommandQueue& operator=(const CommandQueue&) = delete;

    // Prepares the slots and starts the sender thread; false when the thread did not start.
    bool Setup(Transmitter& endpoint, WindowMailbox& window);
    // Given before Setup: where panels answered, so that a request naming one leaves that way
    // first.
    void UseRoutes(const ReplyRoutes* routes) { Routes = routes; }
    // Called on the window thread. Write and delete-cards requests name the record at
    // `selectedIndex`.
    void Queue(uint8_t command, int port, int selectedIndex, const PanelDirectory& directory,
               PanelRecord& pending);
    // Called on the receiver thread for every reply of stage 2. It waits for the lock, which the
    // sender holds from a transmission through its interval to the give-up that frees the slot; so
    // it finds no transmitted slot still active (one stays only when Stop cut a pass short) and
    // frees nothing. Its effect is that a reply is handled only after the sender's current pass.
    void Retire();
    // Stops the sender thread and waits for it; no lock is used afterwards.
    void Stop();
    // Number of active slots; takes the lock. For diagnostics and tests.
    int ActiveSlots();

    const char* SignatureCopy() const { return Sig; }
    void SetClock(Clock clock) { Now = clock; } // tests inject the delete-cards time

  private:
    void SenderThread();
    bool RunPass(); // true when an active slot is left
    void GiveUp(CommandSlot& slot);
    bool SleepInterval(int ms); // false when stopping
    void ReleaseSemaphore();
    static std::tm LocalNow();

    CommandSlot Slots[SlotCount] = {};
    std::counting_semaphore<SemaphoreMax> Semaphore{0};
    std::atomic<int> SemaphoreCount{0};
    std::mutex Lock;
    char Sig[SignatureLength + 1] = {};
    std::thread Sender;
    std::atomic<int> RunFlag{0};
    Transmitter* Endpoint = nullptr;
    WindowMailbox* Window = nullptr;
    const ReplyRoutes* Routes = nullptr;
    Clock Now = &LocalNow;

    std::mutex StopMutex;
    std::condition_variable StopSignal;
    bool Stopping = false;
};
