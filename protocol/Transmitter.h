#pragma once

#include <cstdint>

// Puts one datagram on the wire; the sender thread's only way out.
class Transmitter {
  public:
    virtual void Transmit(const char* address, int port, const uint8_t* data, int length) = 0;

  protected:
    ~Transmitter() = default;
};
