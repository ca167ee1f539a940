// A handover report of a made-up site of N panels, for printing tests: panels on 10.83.0.0/16
// with a location each, every hundredth one not as planned, one panel extra, one missing, one
// IP twice, and two runs done.
//   report-sample N FILE.html
#include <cstdio>
#include <cstdlib>
#include <string>

#include "PanelTexts.h"
#include "commission/HtmlReport.h"
#include "files/WholeFile.h"
#include "plan/PlanCheck.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: report-sample N FILE.html\n");
        return 2;
    }
    const int count = std::atoi(argv[1]);
    ReportInput input;
    input.Site = "Riverside Towers";
    input.By = "A. Installer";
    input.Host = "laptop-7";
    input.Generated = "2026-12-08 10:00 (UTC+0000)";
    input.Version = "1.0";
    input.ComputerAddresses = {"10.83.250.1"};
    input.PlanName = "riverside.csv";
    input.NoteColumns = {"# location", "# note"};
    std::vector<PanelRecord> records;
    for (int at = 0; at < count; ++at) {
        ReportPanel p;
        PanelRecord& r = p.Record;
        r.TypeLetter = 'H';
        char address[16];
        std::snprintf(address, sizeof address, "01%04d%04d", (at / 100 + 1) % 10000, at % 100 + 1);
        std::copy(address, address + 10, r.Address);
        r.Facility = '1';
        const uint8_t mac[6] = {0x00, 0x50, 0x2A, 0x01, uint8_t(at >> 8), uint8_t(at)};
        std::copy(mac, mac + 6, r.Mac);
        // 250 a block, so that every /24 of the map holds panels; the last one shares an IP.
        const int host = at == count - 1 && count > 1 ? 0 : at;
        const uint8_t ip[4] = {10, 83, uint8_t(host / 250), uint8_t(host % 250 + 1)};
        std::copy(ip, ip + 4, r.Ip);
        const uint8_t mask[4] = {255, 255, 0, 0}, gateway[4] = {10, 83, 255, 1},
                      server[4] = {10, 83, 255, 254};
        std::copy(mask, mask + 4, r.Subnet);
        std::copy(gateway, gateway + 4, r.Gateway);
        std::copy(server, server + 4, r.Server);
        std::copy_n("V2.1.7", 6, r.Version);
        r.UnlockTime = 5;
        p.Via = "10.83.250.1";
        p.Notes = {{"# location", "Block " + std::to_string(at / 100 + 1) + ", floor " +
                                      std::to_string(at / 10 % 10) + ", flat " +
                                      std::to_string(at % 10 + 1)},
                   {"# note", ""}};
        p.Result = "as planned";
        if (at % 100 == 42) {
            p.Result = "differs";
            p.Details = "unlock: 5 \xE2\x86\x92 7";
        }
        if (at == count - 2) p.Result = "extra", p.Notes.clear();
        records.push_back(r);
        input.Panels.push_back(p);
    }
    ReportPanel missing;
    missing.Found = false;
    const uint8_t gone[6] = {0x00, 0x50, 0x2A, 0x09, 0x09, 0x09};
    std::copy(gone, gone + 6, missing.Record.Mac);
    missing.Result = "missing";
    missing.Notes = {{"# location", "Gate house"}};
    input.Panels.push_back(missing);
    input.Faults = SiteFaults(records, *ParseSubnet(FactorySubnet));
    input.Runs = {
        {"2026-12-07 09:10:02", "assign: 3 rows of 3 in riverside-new.csv given to new panels",
         "riverside-new-as-built.csv, undo plan undo-2026-12-07-091002.csv", 3, 3},
        {"2026-12-07 11:40:15", "set or apply: wrote 1 panel", "undo-2026-12-07-114015.csv", 1, 1}};
    std::string error;
    if (!WriteWhole(argv[2], ReportHtml(input), error)) {
        std::fprintf(stderr, "report-sample: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
