// Which of the computer's interfaces a broadcast leaves by, from fabricated interface lists
// ("index flags address/prefix", flags U up, R link, B broadcast, L loopback, P point-to-point).
#include "BroadcastInterfaces.h"
#include "ArrivalAddress.h"

#include <QStringList>
#include <QTest>

#include <arpa/inet.h>
#include <net/if.h>

namespace {

InterfaceAddress Parse(const QString& text) {
    const QStringList words = text.split(u' ');
    InterfaceAddress a;
    a.Index = words.value(0).toUInt();
    const QString flags = words.value(1);
    const std::pair<QChar, unsigned> letters[] = {{u'U', IFF_UP},
                                                  {u'R', IFF_RUNNING},
                                                  {u'B', IFF_BROADCAST},
                                                  {u'L', IFF_LOOPBACK},
                                                  {u'P', IFF_POINTOPOINT}};
    for (const auto& [letter, flag] : letters)
        if (flags.contains(letter)) a.Flags |= flag;
    const QString address = words.value(2);
    if (address == QStringLiteral("inet6")) {
        a.Family = AF_INET6;
    } else if (address == QStringLiteral("packet")) {
        a.Family = AF_PACKET;
    } else {
        a.Family = AF_INET;
        const QStringList parts = address.split(u'/');
        inet_pton(AF_INET, qPrintable(parts.value(0)), &a.Address);
        const int prefix = parts.value(1).toInt();
        a.Netmask.s_addr = htonl(prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix));
    }
    return a;
}

QStringList Describe(const std::vector<BroadcastRoute>& routes) {
    QStringList lines;
    for (const BroadcastRoute& r : routes) {
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &r.Address, text, sizeof text);
        QString line = QStringLiteral("%1 %2").arg(r.Index).arg(QLatin1String(text));
        // An alias's copy may be sent to its subnet's broadcast address.
        if (r.Alias) {
            inet_ntop(AF_INET, &r.SubnetBroadcast, text, sizeof text);
            line += QStringLiteral(" alias ") + QLatin1String(text);
        }
        lines << line;
    }
    return lines;
}

} // namespace

class BroadcastInterfacesTest : public QObject {
    Q_OBJECT
  private slots:
    void routes_data() {
        QTest::addColumn<QStringList>("interfaces");
        QTest::addColumn<QStringList>("routes");
        const QString lo = QStringLiteral("1 URL 127.0.0.1/8");
        QTest::newRow("nothing") << QStringList{} << QStringList{};
        QTest::newRow("loopback only") << QStringList{lo} << QStringList{};
        QTest::newRow("one cable, no gateway")
            << QStringList{lo, "2 URB 10.99.1.1/24"} << QStringList{"2 10.99.1.1"};
        QTest::newRow("Wi-Fi and a cable to the panel switch")
            << QStringList{lo, "2 URB 192.168.1.20/24", "3 URB 10.99.1.1/24"}
            << QStringList{"2 192.168.1.20", "3 10.99.1.1"};
        QTest::newRow("interface down")
            << QStringList{"2 RB 10.0.0.1/24", "3 URB 10.1.0.1/24"} << QStringList{"3 10.1.0.1"};
        // An unplugged port must not stand for its subnet in place of one that works.
        QTest::newRow("cable unplugged, same subnet on a working port")
            << QStringList{"2 UB 10.0.0.1/24", "3 URB 10.0.0.2/24"} << QStringList{"3 10.0.0.2"};
        QTest::newRow("up but without an IPv4 address")
            << QStringList{"2 URB packet", "2 URB inet6", "3 URB 0.0.0.0/0"} << QStringList{};
        QTest::newRow("VPN tunnel is point-to-point")
            << QStringList{"2 URB 10.99.1.1/24", "4 URP 10.8.0.2/32", "5 URBP 10.9.0.2/24"}
            << QStringList{"2 10.99.1.1"};
        QTest::newRow("not broadcast-capable") << QStringList{"2 UR 10.99.1.1/24"} << QStringList{};
        // Two cables in one subnet number: each is asked, from its own address.
        QTest::newRow("two interfaces in one subnet")
            << QStringList{"2 URB 10.83.0.1/16", "3 URB 10.83.0.2/16"}
            << QStringList{"2 10.83.0.1", "3 10.83.0.2"};
        QTest::newRow("subnet of an interface seen again after another one")
            << QStringList{"2 URB 10.0.0.1/24", "3 URB 10.1.0.1/24", "2 URB 10.0.0.9/24"}
            << QStringList{"2 10.0.0.1", "3 10.1.0.1"};
        // A new panel on its factory subnet answers only an address of that subnet.
        QTest::newRow("alias in the factory subnet: its own route, from the alias")
            << QStringList{lo, "2 URB 10.83.0.1/16", "2 URB 192.168.1.5/24"}
            << QStringList{"2 10.83.0.1", "2 192.168.1.5 alias 192.168.1.255"};
        QTest::newRow("two aliases in one subnet: the first serves it")
            << QStringList{"2 URB 10.83.0.1/16", "2 URB 192.168.1.5/24", "2 URB 192.168.1.6/24"}
            << QStringList{"2 10.83.0.1", "2 192.168.1.5 alias 192.168.1.255"};
        QTest::newRow("Wi-Fi and cable alias in one subnet number")
            << QStringList{lo, "2 URB 192.168.1.50/24", "3 URB 10.84.0.1/16",
                           "3 URB 192.168.1.5/24"}
            << QStringList{"2 192.168.1.50", "3 10.84.0.1", "3 192.168.1.5 alias 192.168.1.255"};
        QTest::newRow("interface index unknown")
            << QStringList{"0 URB 10.99.1.1/24"} << QStringList{};
    }
    void routes() {
        QFETCH(QStringList, interfaces);
        QFETCH(QStringList, routes);
        std::vector<InterfaceAddress> list;
        for (const QString& entry : interfaces)
            list.push_back(Parse(entry));
        QCOMPARE(Describe(BroadcastRoutes(list)), routes);
    }

    // A request to one panel leaves first from the address its reply came to.
    void leadWith_data() {
        QTest::addColumn<QStringList>("interfaces");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QStringList>("routes");
        const QStringList site{"2 URB 192.168.1.50/24", "3 URB 10.84.0.1/16",
                               "3 URB 192.168.1.5/24"};
        QTest::newRow("the last route")
            << site << "192.168.1.5"
            << QStringList{"3 192.168.1.5 alias 192.168.1.255", "2 192.168.1.50", "3 10.84.0.1"};
        QTest::newRow("already first")
            << site << "192.168.1.50"
            << QStringList{"2 192.168.1.50", "3 10.84.0.1", "3 192.168.1.5 alias 192.168.1.255"};
        QTest::newRow("no longer an address of this computer")
            << site << "10.9.9.9"
            << QStringList{"2 192.168.1.50", "3 10.84.0.1", "3 192.168.1.5 alias 192.168.1.255"};
        QTest::newRow("unknown (0.0.0.0)")
            << site << "0.0.0.0"
            << QStringList{"2 192.168.1.50", "3 10.84.0.1", "3 192.168.1.5 alias 192.168.1.255"};
    }
    void leadWith() {
        QFETCH(QStringList, interfaces);
        QFETCH(QString, first);
        QFETCH(QStringList, routes);
        std::vector<InterfaceAddress> list;
        for (const QString& entry : interfaces)
            list.push_back(Parse(entry));
        std::vector<BroadcastRoute> ordered = BroadcastRoutes(list);
        in_addr address{};
        inet_pton(AF_INET, qPrintable(first), &address);
        LeadWith(ordered, address);
        QCOMPARE(Describe(ordered), routes);
    }

    // Settle's mark needs a loopback that is up.
    void loopbackUp_data() {
        QTest::addColumn<QStringList>("interfaces");
        QTest::addColumn<bool>("up");
        QTest::newRow("up") << QStringList{"1 URL 127.0.0.1/8", "2 URB 10.0.0.1/24"} << true;
        QTest::newRow("down") << QStringList{"1 L 127.0.0.1/8", "2 URB 10.0.0.1/24"} << false;
        QTest::newRow("missing") << QStringList{"2 URB 10.0.0.1/24"} << false;
        QTest::newRow("only another loopback address") << QStringList{"1 URL 127.0.0.2/8"} << false;
    }
    void loopbackUp() {
        QFETCH(QStringList, interfaces);
        QFETCH(bool, up);
        std::vector<InterfaceAddress> list;
        for (const QString& entry : interfaces)
            list.push_back(Parse(entry));
        QCOMPARE(LoopbackUp(list), up);
    }

    // The local address of a datagram where the receive names only the interface (Windows).
    void arrivalAddress_data() {
        QTest::addColumn<QStringList>("interfaces");
        QTest::addColumn<unsigned>("index");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("local");
        const QStringList laptop{"1 URL 127.0.0.1/8", "2 URB 192.168.1.20/24", "3 URB 10.84.0.1/16",
                                 "3 URB 192.168.0.100/24"};
        QTest::newRow("broadcast on the Wi-Fi") << laptop << 2u << "255.255.255.255"
                                                << "192.168.1.7"
                                                << "192.168.1.20";
        QTest::newRow("broadcast on the cable, from its main subnet")
            << laptop << 3u << "255.255.255.255"
            << "10.84.0.11"
            << "10.84.0.1";
        QTest::newRow("broadcast on the cable, from the alias's subnet")
            << laptop << 3u << "255.255.255.255"
            << "192.168.0.200"
            << "192.168.0.100";
        QTest::newRow("sender in no subnet of the interface: its first address")
            << laptop << 3u << "255.255.255.255"
            << "172.16.5.5"
            << "10.84.0.1";
        QTest::newRow("subnet broadcast") << laptop << 3u << "10.84.255.255"
                                          << "10.84.0.11"
                                          << "10.84.0.1";
        QTest::newRow("sent to an own address: that address, whatever the index")
            << laptop << 3u << "192.168.1.20"
            << "10.84.0.11"
            << "192.168.1.20";
        QTest::newRow("interface not in the list") << laptop << 9u << "255.255.255.255"
                                                   << "10.84.0.11"
                                                   << "0.0.0.0";
        QTest::newRow("interface without IPv4")
            << QStringList{"4 URB inet6", "4 URB packet"} << 4u << "255.255.255.255"
            << "10.84.0.11"
            << "0.0.0.0";
    }
    void arrivalAddress() {
        QFETCH(QStringList, interfaces);
        QFETCH(unsigned, index);
        QFETCH(QString, destination);
        QFETCH(QString, source);
        QFETCH(QString, local);
        std::vector<InterfaceAddress> list;
        for (const QString& entry : interfaces)
            list.push_back(Parse(entry));
        in_addr to{}, from{};
        inet_pton(AF_INET, qPrintable(destination), &to);
        inet_pton(AF_INET, qPrintable(source), &from);
        const in_addr found = ArrivalAddressOn(list, index, to, from);
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &found, text, sizeof text);
        QCOMPARE(QString::fromLatin1(text), local);
    }
};

QTEST_APPLESS_MAIN(BroadcastInterfacesTest)
#include "BroadcastInterfacesTest.moc"
