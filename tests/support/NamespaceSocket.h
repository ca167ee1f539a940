#pragma once

#include <fcntl.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

// A UDP socket that lives in the network namespace `ns` of the test network, or -1.
// setns changes only the calling thread, so the socket is made on a short-lived one.
inline int UdpSocketInNamespace(const std::string& ns) {
    int fd = -1;
    std::thread maker([&] {
        const int nsFd = open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
        if (nsFd < 0) return;
        if (setns(nsFd, CLONE_NEWNET) == 0) fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        close(nsFd);
    });
    maker.join();
    return fd;
}
