#pragma once

#include "EndpointSetup.h"

class TForm1;

namespace Startup {

// Creates the endpoint for `form`, gives it its settings and opens it. Null when the port
// cannot be opened; nothing is shown then.
TUDPR* OpenEndpoint(TForm1& form);

// The whole program: window, endpoint, event loop. Returns 0; exits with 1 when no display
// can be opened.
int Run(int argc, char** argv);

} // namespace Startup
