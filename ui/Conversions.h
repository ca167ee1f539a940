#pragma once

#include <QByteArray>
#include <QString>

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

// The bytes a panel receives for a box text: ASCII as it stands, other characters in GBK (two
// bytes each); a character GBK lacks becomes '?'.
QByteArray ToWireBytes(const QString& text);
