#include "Conversions.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <cstring>
#include <string>

int StrToInt(const QString& text) {
    try {
        return StrToInt(std::string_view(text.toStdString()));
    } catch (const ConvertError&) {
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value.").arg(text));
    }
}

std::optional<uint8_t> HexByte(const QString& text) {
    return HexByte(std::string_view(text.toStdString()));
}

int CompareBytes(const QByteArray& a, const QByteArray& b) {
    return CompareBytes(std::string_view(a.constData(), size_t(a.size())),
                        std::string_view(b.constData(), size_t(b.size())));
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
