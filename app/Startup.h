#pragma once

class TForm1;
class TUDPR;

namespace Startup {

constexpr int Port = 8300;
constexpr int SendBufferSize = 32768;
// Large enough for 100 search replies of 512 bytes waiting while the sender holds the lock.
constexpr int ReceiveBufferSize = 262144;
constexpr const char* InitialRemoteAddress = "192.168.0.1";
constexpr const char* OpenFailedText =
    "UDP 8300端口打开失败，TCP/IP协议没有安装或端口被其它程序占用";

// Creates the endpoint for `form`, gives it its settings and opens it. Null when the port
// cannot be opened; nothing is shown then.
TUDPR* OpenEndpoint(TForm1& form);

// The whole program: window, endpoint, event loop. Always returns 0.
int Run(int argc, char** argv);

} // namespace Startup
