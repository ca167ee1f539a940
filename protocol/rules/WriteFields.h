#pragma once

// The fields a write can change, each from its own boxes or cell.

#include <bitset>

// In the order of callpanel's columns.
enum WriteField {
    MacField,
    TypeField,
    AddressField,
    FacilityField,
    IpField,
    MaskField,
    GatewayField,
    ServerField,
    UnlockField,
    WriteFieldCount
};
using WriteFields = std::bitset<WriteFieldCount>;
