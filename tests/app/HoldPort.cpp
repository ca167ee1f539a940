// Holds a UDP port the way another program would, so the tool finds it taken.
//   app-hold-port PORT READY_FILE
// Binds 0.0.0.0:PORT, creates READY_FILE, then waits until it is ended. Sends nothing.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PORT READY_FILE\n", argv[0]);
        return 2;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        std::perror("bind");
        return 1;
    }
    std::ofstream(argv[2]) << "held\n";
    for (;;)
        pause();
}
