#pragma once

#include <QByteArray>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Transmitter.h"

// Takes the place of the endpoint: keeps every datagram the sender thread hands over.
class RecordingLink final : public Transmitter {
  public:
    struct Datagram {
        std::string Address;
        int Port;
        QByteArray Bytes;
    };
    void Transmit(const char* address, int port, const uint8_t* data, int length) override {
        std::lock_guard lock(Mutex);
        Sent.push_back({address, port, QByteArray(reinterpret_cast<const char*>(data), length)});
    }
    std::vector<Datagram> Taken() {
        std::lock_guard lock(Mutex);
        return Sent;
    }
    int Count() {
        std::lock_guard lock(Mutex);
        return int(Sent.size());
    }

  private:
    std::mutex Mutex;
    std::vector<Datagram> Sent;
};
