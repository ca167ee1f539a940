#pragma once

#include <cstdint>

// Puts one datagram on the wire; the sender thread's only way out. `firstRoute` is the
// computer's own address whose route a broadcast takes first ("" for none).
class Transmitter {
  public:
    virtual void Transmit(const char* address, int port, const uint8_t* data, int length,
                          const char* firstRoute) = 0;

  protected:
    ~Transmitter() = default;
};
