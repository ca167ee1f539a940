#pragma once

#include <cstdint>

// What the tool knows of one call panel. The first three fields form the 12-byte panel
// identity; the zero terminator after them lets the identity be read as one text.
struct PanelRecord {
    char TypeLetter;
    char Address[10];
    char Facility;
    char Terminator;
    uint8_t Mac[6];
    uint8_t Ip[4];
    uint8_t Subnet[4];
    uint8_t Gateway[4];
    uint8_t Server[4];
    char Version[16];
    uint8_t Spare;
    uint8_t UnlockTime; // seconds in a directory record; the typed digit in PendingSettings
};

constexpr int PanelIdentityLength = 12;
constexpr int DirectoryCapacity = 100;

// Records of the current search; line i of the panel list is record i.
struct PanelDirectory {
    PanelRecord Records[DirectoryCapacity] = {};
    int Count = 0;
};
