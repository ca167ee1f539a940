#pragma once

#include "../net/Udpr.h"
#include "Transmitter.h"

// The sender thread's way to the endpoint: destination settings first, then one Send.
class EndpointLink final : public Transmitter {
  public:
    explicit EndpointLink(TUDPR& endpoint) : Endpoint(endpoint) {}
    void Transmit(const char* address, int port, const uint8_t* data, int length,
                  const char* firstRoute) override {
        Endpoint.RemoteAddress = address;
        Endpoint.RemotePort = port;
        Endpoint.FirstRoute = firstRoute;
        Endpoint.Send(data, length);
    }

  private:
    TUDPR& Endpoint;
};
