// Measures "Search all" against the panels that answer in the test network:
//   callpanel-bench-search --expect N [--rounds R]
// Brings the tool up as the program does (window and endpoint; offscreen is fine), clicks
// "Search all" R times and reports, per round, how many panels were listed and how long it
// took from the click to the last line. Prints one "RESULT key=value ..." line at the end.
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Startup.h"
#include "Udpr.h"
#include "Unit1.h"

namespace {

constexpr int QuietMs = 1000; // A search is over once no new line came for this long.
constexpr int RoundLimitMs = 10000;

void Wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The receive buffer the kernel gave the endpoint's socket (the one bound to port 8300).
int EndpointReceiveBuffer() {
    int size = -1;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (const dirent* e = readdir(d)) {
            const int fd = std::atoi(e->d_name);
            sockaddr_in local{};
            socklen_t length = sizeof local;
            if (fd <= 2 || getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
                continue;
            if (local.sin_family != AF_INET || ntohs(local.sin_port) != 8300) continue;
            socklen_t optionLength = sizeof size;
            getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, &optionLength);
        }
        closedir(d);
    }
    return size;
}

// One click of "Search all", over once no line came for a while after the give-up (or after
// the last line). `lastLineAt` is moved on by every line listed, in `clock`'s nanoseconds; the
// time of the last line in milliseconds, -1 when none came.
double SearchRound(TForm1& form, QElapsedTimer& clock, const qint64& lastLineAt) {
    clock.start();
    form.Button2->click();
    for (;;) {
        Wait(50);
        const qint64 now = clock.nsecsElapsed();
        const qint64 since = lastLineAt < 0 ? now : now - lastLineAt;
        if (since > QuietMs * 1000000LL && now > 500 * 1000000LL) break;
        if (now > RoundLimitMs * 1000000LL) break;
    }
    return lastLineAt < 0 ? -1 : lastLineAt / 1e6;
}

void PrintResult(int expect, std::vector<int> listed, std::vector<double> latencyMs,
                 int receiveBuffer) {
    std::sort(listed.begin(), listed.end());
    std::sort(latencyMs.begin(), latencyMs.end());
    std::printf("RESULT expect=%d rounds=%zu listed_min=%d listed_median=%d listed_max=%d "
                "latency_ms_median=%.1f latency_ms_max=%.1f so_rcvbuf=%d\n",
                expect, listed.size(), listed.front(), listed[listed.size() / 2], listed.back(),
                latencyMs[latencyMs.size() / 2], latencyMs.back(), receiveBuffer);
}

} // namespace

int main(int argc, char** argv) {
    int expect = 0, rounds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--expect")
            expect = std::atoi(argv[i + 1]);
        else if (arg == "--rounds")
            rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    QApplication application(argc, argv);
    auto form = std::make_unique<TForm1>();
    Form1 = form.get();
    std::unique_ptr<TUDPR> endpoint(Startup::OpenEndpoint(*form));
    if (!endpoint) {
        std::fprintf(stderr, "callpanel-bench-search: port 8300 cannot be opened\n");
        return 1;
    }
    form->show();
    Wait(500);

    QElapsedTimer clock;
    qint64 lastLineAt = -1;
    QObject::connect(form->ListBox1->model(), &QAbstractItemModel::rowsInserted,
                     [&] { lastLineAt = clock.nsecsElapsed(); });
    std::vector<int> listed;
    std::vector<double> latencyMs;
    for (int round = 1; round <= rounds; ++round) {
        if (!form->Button2->isEnabled()) Wait(500);
        lastLineAt = -1;
        const double ms = SearchRound(*form, clock, lastLineAt);
        const int lines = form->ListBox1->count();
        listed.push_back(lines);
        latencyMs.push_back(ms);
        std::printf("round %d: %d of %d panels listed, last line %.1f ms after the click, "
                    "status \"%s\"\n",
                    round, lines, expect, ms, qPrintable(form->Label11->text()));
        std::fflush(stdout);
        Wait(300);
    }
    const int receiveBuffer = EndpointReceiveBuffer();
    form->close();
    form.reset();
    Form1 = nullptr;
    endpoint.reset();
    PrintResult(expect, listed, latencyMs, receiveBuffer);
    return 0;
}
