#include <QTest>

#include "Conversions.h"
#include "SettingsChecks.h"

class ConversionsTest : public QObject {
    Q_OBJECT
  private slots:
    void strToIntAccepts_data();
    void strToIntAccepts();
    void strToIntRejects_data();
    void strToIntRejects();
    void hexByte_data();
    void hexByte();
    void compareBytes_data();
    void compareBytes();
    void wireBytes_data();
    void wireBytes();
};

void ConversionsTest::strToIntAccepts_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("plain") << "192" << 192;
    QTest::newRow("plus") << "+5" << 5;
    QTest::newRow("minus") << "-1" << -1;
    QTest::newRow("leading zeros") << "007" << 7;
    QTest::newRow("leading blanks") << "  42" << 42;
    QTest::newRow("blank before sign") << " -3" << -3;
    QTest::newRow("largest") << "2147483647" << 2147483647;
    QTest::newRow("smallest") << "-2147483648" << int(-2147483647 - 1);
    QTest::newRow("minus zero") << "-0" << 0;
}

void ConversionsTest::strToIntAccepts() {
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(StrToInt(text.toStdString()), value);
}

void ConversionsTest::strToIntRejects_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("blank") << " ";
    QTest::newRow("blanks") << "   ";
    QTest::newRow("lone minus") << "-";
    QTest::newRow("lone plus") << "+";
    QTest::newRow("two signs") << "+-1";
    QTest::newRow("blank after sign") << "- 5";
    QTest::newRow("blank inside") << "1 2";
    QTest::newRow("blank after") << "12 ";
    QTest::newRow("letters") << "abc";
    QTest::newRow("digit then letter") << "1a";
    QTest::newRow("hex prefix") << "0x10";
    QTest::newRow("dollar hex") << "$10";
    QTest::newRow("tab before") << "\t5";
    QTest::newRow("fraction") << "1.5";
    QTest::newRow("above int32") << "2147483648";
    QTest::newRow("below int32") << "-2147483649";
    QTest::newRow("far above") << "99999999999999999999";
    QTest::newRow("full-width digit") << QString::fromUtf16(u"\uFF11");
    QTest::newRow("arabic-indic digit") << QString::fromUtf16(u"\u0661");
}

void ConversionsTest::strToIntRejects() {
    QFETCH(QString, text);
    try {
        StrToInt(text.toStdString());
        QFAIL("accepted");
    } catch (const ConvertError& error) {
        // as the window's exception display shows it
        QCOMPARE(QString::fromUtf8(error.what()), "'" + text + "' is not a valid integer value.");
    }
}

void ConversionsTest::hexByte_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value"); // -1: no value
    QTest::newRow("lower") << "0f" << 0x0F;
    QTest::newRow("upper") << "0F" << 0x0F;
    QTest::newRow("one digit") << "7" << 0x07;
    QTest::newRow("ten") << "10" << 0x10;
    QTest::newRow("ff") << "ff" << 0xFF;
    QTest::newRow("mixed case") << "aB" << 0xAB;
    QTest::newRow("beyond f") << "zz" << -1;
    QTest::newRow("lone blank") << " " << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("stops at g") << "1g" << 0x01;
    QTest::newRow("leading blank") << " a" << 0x0A;
    QTest::newRow("leading tab") << "\tb" << 0x0B;
    QTest::newRow("low 8 bits") << "1234" << 0x34;
    QTest::newRow("sign is no digit") << "-1" << -1;
}

void ConversionsTest::hexByte() {
    QFETCH(QString, text);
    QFETCH(int, value);
    const std::optional<uint8_t> byte = HexByte(text.toStdString());
    if (value < 0) {
        QVERIFY(!byte.has_value());
    } else {
        QVERIFY(byte.has_value());
        QCOMPARE(int(*byte), value);
    }
}

void ConversionsTest::compareBytes_data() {
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");
    QTest::addColumn<int>("sign");
    QTest::newRow("10 above 1") << QByteArray("10") << QByteArray("1") << 1;
    QTest::newRow("10 below 9") << QByteArray("10") << QByteArray("9") << -1;
    QTest::newRow("equal") << QByteArray("1") << QByteArray("1") << 0;
    QTest::newRow("empty first") << QByteArray() << QByteArray("0") << -1;
    QTest::newRow("both empty") << QByteArray() << QByteArray() << 0;
    QTest::newRow("high byte unsigned") << QByteArray("\xA3\xA1") << QByteArray("9") << 1;
    QTest::newRow("letter above digit") << QByteArray("a") << QByteArray("1") << 1;
    QTest::newRow("blank below digit") << QByteArray(" ") << QByteArray("0") << -1;
}

void ConversionsTest::compareBytes() {
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QFETCH(int, sign);
    const int forward = CompareBytes(a.toStdString(), b.toStdString());
    const int backward = CompareBytes(b.toStdString(), a.toStdString());
    QCOMPARE((forward > 0) - (forward < 0), sign);
    QCOMPARE((backward > 0) - (backward < 0), -sign);
}

void ConversionsTest::wireBytes_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ascii") << "12ab 0" << QByteArray("12ab 0");
    QTest::newRow("empty") << "" << QByteArray();
    QTest::newRow("full-width exclamation")
        << QString::fromUtf16(u"\uFF01") << QByteArray("\xA3\xA1");
    QTest::newRow("han in text") << QString::fromUtf16(u"1\u5B8B2")
                                 << QByteArray("1\xCB\xCE"
                                               "2");
    QTest::newRow("not in GBK") << QString::fromUtf16(u"a\u0E01b") << QByteArray("a?b");
    QTest::newRow("astral") << QString::fromUtf16(u"\U0001F600") << QByteArray("?");
}

void ConversionsTest::wireBytes() {
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(ToWireBytes(text), bytes);
}

QTEST_APPLESS_MAIN(ConversionsTest)
#include "ConversionsTest.moc"
