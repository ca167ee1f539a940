#pragma once

#include <QByteArray>
#include <QString>

// The bytes a panel receives for a box text: ASCII as it stands, other characters in GBK (two
// bytes each); a character GBK lacks becomes '?'.
QByteArray ToWireBytes(const QString& text);
