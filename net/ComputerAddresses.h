#pragma once

// This computer's own IPv4 addresses, which a Write must not give a panel.

#include <array>
#include <cstdint>
#include <vector>

// Every IPv4 address of every interface now; empty when the list cannot be read.
// The same type as the checks' Ipv4Bytes: first octet first.
std::vector<std::array<std::uint8_t, 4>> ComputerAddresses();
