#pragma once

#include <QByteArray>
#include <chrono>
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
        std::chrono::steady_clock::time_point At; // when the sender thread handed it over
    };
    void Transmit(const char* address, int port, const uint8_t* data, int length,
                  const char*) override {
        const auto at = std::chrono::steady_clock::now();
        std::lock_guard lock(Mutex);
        Sent.push_back(
            {address, port, QByteArray(reinterpret_cast<const char*>(data), length), at});
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
