#pragma once

// The endpoint's settings and opening, shared by the window's faces on Linux and Windows.

class Form1Logic;
class TUDPR;

namespace Startup {

constexpr int Port = 8300;
constexpr int SendBufferSize = 32768;
// Large enough for 100 search replies of 512 bytes waiting while the sender holds the lock.
constexpr int ReceiveBufferSize = 262144;
constexpr const char* InitialRemoteAddress = "192.168.0.1";
constexpr const char* OpenFailedText =
    "UDP 8300端口打开失败，TCP/IP协议没有安装或端口被其它程序占用";
constexpr const char* OpenFailedTitle = "Error";

// Creates the endpoint for the window's logic, gives it its settings and opens it. Null when
// the port cannot be opened; nothing is shown then.
TUDPR* OpenEndpoint(Form1Logic& logic);

} // namespace Startup
