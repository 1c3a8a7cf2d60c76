#include "device/ProcessResult.h"

#include <QStringDecoder>

QString ProcessResult::decodeOutput(const QByteArray& bytes) {
    // Stateless: a sequence cut off at the end counts as an error instead of waiting for more.
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return QString();
    }
    return text;
}
