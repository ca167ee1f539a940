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
// The box above stays as it always was; this line on the standard error says the same in English
// for whoever started the program from a terminal, with the command that names the holder.
#ifdef _WIN32
constexpr const char* OpenFailedLine =
    "callpanel-tool: UDP port 8300 cannot be opened: another program holds it, or TCP/IP is not "
    "installed; netstat -abno -p UDP (as administrator) shows who holds it\n";
#else
constexpr const char* OpenFailedLine =
    "callpanel-tool: UDP port 8300 cannot be opened: another program holds it, or TCP/IP is not "
    "installed; ss -uanp 'sport = :8300' (as root) shows who holds it\n";
#endif

// Creates the endpoint for the window's logic, gives it its settings and opens it. Null when
// the port cannot be opened; nothing is shown then.
TUDPR* OpenEndpoint(Form1Logic& logic);

} // namespace Startup
