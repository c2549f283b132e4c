#include "LogText.h"

#include <QStringDecoder>

namespace quendal {

QString LogBytesToText(QByteArrayView ABytes) {
    return QString::fromLatin1(ABytes);
}

QByteArray LogTextToBytes(QStringView AText) {
    return AText.toLatin1();
}

QString DecodeLogFile(const QByteArray& ABytes) {
    if (ABytes.startsWith("\xEF\xBB\xBF")) return QString::fromUtf8(ABytes.mid(3));
    if (ABytes.startsWith("\xFF\xFE") || ABytes.startsWith("\xFE\xFF")) {
        QStringDecoder decoder(ABytes.startsWith("\xFF\xFE") ? QStringDecoder::Utf16LE
                                                             : QStringDecoder::Utf16BE);
        return decoder(ABytes.mid(2));
    }
    return LogBytesToText(ABytes);
}

QString NormalizeLineBreaks(const QString& AText) {
    QString text = AText;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

} // namespace quendal
