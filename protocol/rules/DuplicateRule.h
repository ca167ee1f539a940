#pragma once

#include "PanelRecord.h"

// When two search replies are one panel, for the window and callpanel alike: only when their
// whole records are equal (a panel asked through two routes answers each copy the same). Panels
// that share a MAC, or a MAC and an IP address, are two panels, each with its own line.
bool SamePanel(const PanelRecord& a, const PanelRecord& b);

// An order of records by MAC, then by the rest of the record; records it finds neither before
// nor after each other are SamePanel.
struct PanelOrder {
    bool operator()(const PanelRecord& a, const PanelRecord& b) const;
};
