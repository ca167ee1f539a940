#pragma once

// The IPv4 socket types and interface flags, from the system's own headers on either system.

#include <sys/types.h>

#include <cstdint>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

using sa_family_t = ADDRESS_FAMILY;
using in_addr_t = uint32_t;
// Windows' interface list has no such flags: the Winsock layer sets these from the adapter's
// state and type, so that one rule reads both lists.
#ifndef IFF_RUNNING
#define IFF_RUNNING 0x40
#endif
#ifndef IFF_POINTOPOINT
#define IFF_POINTOPOINT IFF_POINTTOPOINT
#endif
#else
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#endif
