#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

#include "Dialogs.h"
#include "SettingsChecks.h"

// What a box text that is not a valid integer throws; the handler's caller shows it.
class EConvertError : public Dialogs::Exception {
  public:
    using Dialogs::Exception::Exception;
    // The shared checks' error, with its text, for the window's exception display.
    explicit EConvertError(const ConvertError& error)
        : Dialogs::Exception(QString::fromUtf8(error.what())) {}
};

// The conversions of SettingsChecks, on box texts.
// Signed 32-bit decimal: leading blanks, an optional sign, then decimal digits up to the end of
// the text. Hexadecimal notations are refused, since these boxes take decimal bytes.
// Throws EConvertError with "'<text>' is not a valid integer value."
int StrToInt(const QString& text);

// Scans like "%x": leading white space, then hexadecimal digits of either case up to the first
// other character; the low 8 bits of their value. Empty when no digit follows the blanks.
std::optional<uint8_t> HexByte(const QString& text);

// Byte strings compared as unsigned bytes; a string that begins the other sorts first.
// Negative, zero or positive.
int CompareBytes(const QByteArray& a, const QByteArray& b);

// The single-byte form the panels use: ASCII as it stands, other characters in GBK (two bytes
// each); a character GBK lacks becomes '?'.
QByteArray ToWireBytes(const QString& text);

// The text of panel bytes up to the first zero byte (at most `size`), read as GBK like
// ToWireBytes writes them; Latin-1 where GBK is not available.
QString FromWireBytes(const char* bytes, int size);
