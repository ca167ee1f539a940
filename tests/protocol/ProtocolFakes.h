#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "MessageFormat.h"
#include "PanelRecord.h"
#include "Transmitter.h"
#include "WindowMailbox.h"

// Records every datagram instead of sending it. Optionally holds the sender thread inside
// Transmit (which it calls while holding the queue's lock) until the test opens the gate.
class RecordingTransmitter final : public Transmitter {
  public:
    struct Datagram {
        QString Address;
        int Port;
        int Length;
        QByteArray Bytes; // the whole 512-byte buffer the endpoint would send
    };

    void Transmit(const char* address, int port, const uint8_t* data, int length) override {
        std::unique_lock<std::mutex> lock(Mutex);
        Sent.push_back({QString::fromLatin1(address), port, length,
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

// Fills the fields of a record from readable arguments.
inline PanelRecord MakeRecord(const char* identity12, std::initializer_list<int> mac,
                              std::initializer_list<int> ip, std::initializer_list<int> subnet,
                              std::initializer_list<int> gateway, std::initializer_list<int> server,
                              const char* version, int spare, int unlockTime) {
    PanelRecord r{};
    r.TypeLetter = identity12[0];
    std::memcpy(r.Address, identity12 + 1, sizeof r.Address);
    r.Facility = identity12[11];
    auto put = [](uint8_t* to, std::initializer_list<int> values) {
        for (int v : values)
            *to++ = static_cast<uint8_t>(v);
    };
    put(r.Mac, mac);
    put(r.Ip, ip);
    put(r.Subnet, subnet);
    put(r.Gateway, gateway);
    put(r.Server, server);
    std::memcpy(r.Version, version, strnlen(version, sizeof r.Version));
    r.Spare = static_cast<uint8_t>(spare);
    r.UnlockTime = static_cast<uint8_t>(unlockTime);
    return r;
}
