#include "Conversions.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <algorithm>
#include <cstring>
#include <limits>

int StrToInt(const QString& text) {
    const auto fail = [&text]() -> EConvertError {
        return EConvertError(QStringLiteral("'%1' is not a valid integer value.").arg(text));
    };
    qsizetype at = 0;
    const qsizetype size = text.size();
    while (at < size && text[at] == QLatin1Char(' '))
        ++at;
    bool negative = false;
    if (at < size && (text[at] == QLatin1Char('+') || text[at] == QLatin1Char('-'))) {
        negative = text[at] == QLatin1Char('-');
        ++at;
    }
    if (at == size) throw fail();
    // Accumulate as a negative number so that the most negative value fits.
    constexpr long long Lowest = std::numeric_limits<int32_t>::min();
    long long value = 0;
    for (; at < size; ++at) {
        const char16_t c = text[at].unicode();
        if (c < u'0' || c > u'9') // other scripts' digits are not decimal digits here
            throw fail();
        value = value * 10 - (c - u'0');
        if (value < Lowest) throw fail();
    }
    if (!negative) {
        value = -value;
        if (value > std::numeric_limits<int32_t>::max()) throw fail();
    }
    return static_cast<int>(value);
}

namespace {

// The white space that "%x" skips in the C locale.
bool IsCBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

} // namespace

std::optional<uint8_t> HexByte(const QString& text) {
    qsizetype at = 0;
    const qsizetype size = text.size();
    while (at < size && IsCBlank(text[at].unicode()))
        ++at;
    unsigned value = 0;
    bool any = false;
    for (; at < size; ++at) {
        const char16_t c = text[at].unicode();
        unsigned digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            break;
        value = ((value << 4) | digit) & 0xFFu; // only the low 8 bits are kept anyway
        any = true;
    }
    if (!any) return std::nullopt;
    return static_cast<uint8_t>(value);
}

int CompareBytes(const QByteArray& a, const QByteArray& b) {
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

QByteArray ToWireBytes(const QString& text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype at = 0; at < text.size(); ++at) {
        const QChar c = text[at];
        if (c.unicode() < 0x80) {
            out.append(static_cast<char>(c.unicode()));
            continue;
        }
        // One character at a time, a surrogate pair kept together.
        qsizetype length = 1;
        if (c.isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate())
            length = 2;
        QStringEncoder gbk("GBK"); // fresh per character, so one failure marks only its own
        if (gbk.isValid()) {
            const QByteArray encoded = gbk(QStringView(text).mid(at, length));
            out.append(gbk.hasError() || encoded.isEmpty() ? QByteArray("?") : encoded);
        } else {
            out.append('?');
        }
        at += length - 1;
    }
    return out;
}

QString FromWireBytes(const char* bytes, int size) {
    const qsizetype length = qsizetype(strnlen(bytes, size_t(size)));
    QStringDecoder gbk("GBK");
    if (!gbk.isValid()) return QString::fromLatin1(bytes, length);
    return gbk(QByteArrayView(bytes, length));
}
