#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "CommandQueue.h"
#include "MessageFormat.h"
#include "PanelRecord.h"
#include "Records.h"
#include "Transmitter.h"
#include "WindowMailbox.h"

// Records every datagram instead of sending it. Optionally holds the sender thread inside
// Transmit (which it calls while holding the queue's lock) until the test opens the gate.
class RecordingTransmitter final : public Transmitter {
  public:
    struct Datagram {
        QString Address;
        int Port;
        QString FirstRoute;
        int Length;
        QByteArray Bytes; // the whole 512-byte buffer the endpoint would send
    };

    void Transmit(const char* address, int port, const uint8_t* data, int length,
                  const char* firstRoute) override {
        std::unique_lock<std::mutex> lock(Mutex);
        Sent.push_back({QString::fromLatin1(address), port, QString::fromLatin1(firstRoute), length,
                        QByteArray(reinterpret_cast<const char*>(data), MessageSize)});
        Changed.notify_all();
        Changed.wait(lock, [this] { return GateOpen; });
    }

    void CloseGate() {
        std::lock_guard<std::mutex> lock(Mutex);
        GateOpen = false;
    }
    void OpenGate() {
        {
            std::lock_guard<std::mutex> lock(Mutex);
            GateOpen = true;
        }
        Changed.notify_all();
    }
    // True once `count` datagrams have been handed over.
    bool WaitForCount(int count, int timeoutMs = 5000) {
        std::unique_lock<std::mutex> lock(Mutex);
        return Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [&] { return static_cast<int>(Sent.size()) >= count; });
    }
    int Count() {
        std::lock_guard<std::mutex> lock(Mutex);
        return static_cast<int>(Sent.size());
    }
    Datagram At(int i) {
        std::lock_guard<std::mutex> lock(Mutex);
        return Sent.at(static_cast<size_t>(i));
    }

  private:
    std::mutex Mutex;
    std::condition_variable Changed;
    std::vector<Datagram> Sent;
    bool GateOpen = true;
};

// The identity of a record read as text, as the window lists it.
inline QString IdentityText(const PanelRecord& record) {
    return QString::fromLatin1(&record.TypeLetter,
                               static_cast<int>(strnlen(&record.TypeLetter, PanelIdentityLength)));
}

// Stands in for the window: keeps every applied change as one line of text. Window thread only.
class RecordingSink final : public WindowSink {
  public:
    void ApplyStatus(const char* text) override {
        Log << QStringLiteral("status:") + QString::fromUtf8(text);
        Texts.push_back(text);
    }
    void ApplyEnableButtons() override { Log << QStringLiteral("enable"); }
    void ApplyPanel(const PanelRecord& record) override {
        Log << QStringLiteral("panel:") + IdentityText(record);
        Panels.push_back(record);
    }

    QStringList Log;
    std::vector<const char*> Texts;
    std::vector<PanelRecord> Panels;
};

// The command queue with everything it talks to. Members are destroyed in reverse order: the
// queue (and its thread) before the mailbox and the transmitter it uses.
struct QueueRig {
    RecordingTransmitter Link;
    std::unique_ptr<WindowMailbox> Mailbox = std::make_unique<WindowMailbox>();
    std::unique_ptr<PanelDirectory> Directory = std::make_unique<PanelDirectory>();
    PanelRecord Pending{};
    RecordingSink Sink;
    CommandQueue Queue;

    // The window's log after it took what is waiting in the mailbox.
    QStringList Drained() {
        Mailbox->Drain(Sink);
        return Sink.Log;
    }
};
