#pragma once

// This computer's own IPv4 addresses, which a Write must not give a panel.

#include <vector>

#include "SettingsChecks.h"

// Every IPv4 address of every interface now; empty when the list cannot be read.
std::vector<Ipv4Bytes> ComputerAddresses();
