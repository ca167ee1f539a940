#include "Conversions.h"

#include "PanelTexts.h"

QByteArray ToWireBytes(const QString& text) {
    return QByteArray::fromStdString(WireBytes(text.toStdString()));
}
