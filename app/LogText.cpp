#include "LogText.h"

#include <QStringDecoder>

namespace quendal {

QString LogBytesToText(QByteArrayView ABytes) {
    return QString::fromLatin1(ABytes);
}

QByteArray LogTextToBytes(QStringView AText) {
    return AText.toLatin1();
}

namespace {

// Qt's UTF-16 decoder passes unpaired surrogates through, which would leave text that is no
// valid UTF-16 in the pane.
QString ReplaceLoneSurrogates(QString AText) {
    for (qsizetype i = 0; i < AText.size(); ++i) {
        if (AText[i].isHighSurrogate() && i + 1 < AText.size() && AText[i + 1].isLowSurrogate())
            ++i;
        else if (AText[i].isSurrogate())
            AText[i] = QChar::ReplacementCharacter;
    }
    return AText;
}

} // namespace

QString DecodeLogFile(const QByteArray& ABytes) {
    // The mark is taken off here: a second one is a character of the text, which the decoders
    // would otherwise drop as well.
    if (ABytes.startsWith("\xEF\xBB\xBF")) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
        return decoder(ABytes.mid(3));
    }
    if (ABytes.startsWith("\xFF\xFE") || ABytes.startsWith("\xFE\xFF")) {
        QStringDecoder decoder(ABytes.startsWith("\xFF\xFE") ? QStringDecoder::Utf16LE
                                                             : QStringDecoder::Utf16BE,
                               QStringDecoder::Flag::ConvertInitialBom);
        return ReplaceLoneSurrogates(decoder(ABytes.mid(2)));
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
