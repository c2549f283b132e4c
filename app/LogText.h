// The log pane's text without the widget: the code page's conversions, the decoding of a log
// file and the line breaks. Qt Core only, so that it is tested and fuzzed without a GUI.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace quendal {

// The system's single-byte code page (Latin-1 here): every byte is one character and back.
// Characters the code page lacks become "?".
QString LogBytesToText(QByteArrayView ABytes);
QByteArray LogTextToBytes(QStringView AText);

// The text of a log file: decoded by its byte-order mark (UTF-8, UTF-16 LE or BE; the mark is
// not part of the text) or else by the code page. Invalid sequences become U+FFFD; a UTF-16
// file of odd length loses its last byte.
QString DecodeLogFile(const QByteArray& ABytes);

// AText with every CR LF and every other CR replaced by LF, the pane's only line break.
QString NormalizeLineBreaks(const QString& AText);

} // namespace quendal
