#include "EndpointSetup.h"

#include <forward_list>
#include <memory>

#include "EndpointLink.h"
#include "Form1Logic.h"

namespace {

// A link is one reference wide. Keeping every link until exit lets whoever owns the endpoint
// delete it as a plain TUDPR, without a second object to free.
std::forward_list<EndpointLink>& Links() {
    static std::forward_list<EndpointLink> links;
    return links;
}

} // namespace

namespace Startup {

TUDPR* OpenEndpoint(Form1Logic& logic) {
    auto endpoint = std::make_unique<TUDPR>();
    logic.Udpr = endpoint.get();

    endpoint->LocalPort = Port;
    endpoint->RemotePort = Port;
    endpoint->SendBufferSize = SendBufferSize;
    endpoint->ReceiveBufferSize = ReceiveBufferSize;
    endpoint->RemoteAddress = InitialRemoteAddress;
    endpoint->Handler = &logic.Dispatcher;
    logic.Dispatcher.ReadArrivalsFrom(endpoint.get());
    logic.Queue.UseRoutes(&logic.Dispatcher.Routes());

    Links().emplace_front(*endpoint);
    logic.Link = &Links().front();

    if (!endpoint->Open()) {
        logic.Udpr = nullptr;
        logic.Link = nullptr;
        Links().pop_front();
        return nullptr;
    }
    return endpoint.release();
}

} // namespace Startup
