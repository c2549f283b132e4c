#include "LogPane.h"

#include "LogText.h"

#include <QFile>
#include <QSaveFile>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

namespace quendal {

TLogPane::TLogPane(QWidget* AParent)
    : QPlainTextEdit(AParent) {
    setReadOnly(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setLayoutDirection(Qt::LeftToRight);
    // The log keeps no undo history: it would grow with every append.
    setUndoRedoEnabled(false);
}

QString TLogPane::FromCodePage(const std::string& ABytes) {
    return LogBytesToText(QByteArrayView(ABytes.data(), static_cast<qsizetype>(ABytes.size())));
}

QByteArray TLogPane::ToCodePage(const QString& AText) {
    return LogTextToBytes(AText);
}

void TLogPane::AppendBytes(const std::string& ABytes) {
    AppendText(FromCodePage(ABytes));
}

void TLogPane::AppendText(const QString& AText) {
    if (AText.isEmpty()) return;
    QString text;
    text.reserve(AText.size());
    qsizetype i = 0;
    if (FPendingCR && AText.front() == QLatin1Char('\n'))
        i = 1; // the LF of a CR LF that was split between two appends
    FPendingCR = false;
    for (; i < AText.size(); ++i) {
        const QChar c = AText[i];
        if (c == QLatin1Char('\r')) {
            text += QLatin1Char('\n');
            if (i + 1 < AText.size() && AText[i + 1] == QLatin1Char('\n'))
                ++i;
            else if (i + 1 == AText.size())
                FPendingCR = true;
        } else {
            text += c;
        }
    }
    if (text.isEmpty()) return;
    QScrollBar* bar = verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    if (following) bar->setValue(bar->maximum());
}

void TLogPane::Clear() {
    clear();
    FPendingCR = false;
}

QStringList TLogPane::Lines() const {
    QStringList lines;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next())
        lines.append(block.text());
    // The document always holds a last block; after a final line break it is empty and is
    // no line of its own.
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
    return lines;
}

void TLogPane::SetText(const QString& AText) {
    setPlainText(NormalizeLineBreaks(AText));
    FPendingCR = AText.endsWith(QLatin1Char('\r'));
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

bool TLogPane::SaveToFile(const QString& AFileName) const {
    QSaveFile file(AFileName);
    if (!file.open(QIODevice::WriteOnly)) return false;
    QByteArray bytes;
    for (const QString& line : Lines()) {
        bytes += ToCodePage(line);
        bytes += "\r\n";
        if (bytes.size() >= (1 << 20)) {
            if (file.write(bytes) != bytes.size()) return false;
            bytes.clear();
        }
    }
    if (file.write(bytes) != bytes.size()) return false;
    return file.commit();
}

bool TLogPane::LoadFromFile(const QString& AFileName) {
    QFile file(AFileName);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) return false;
    SetText(DecodeLogFile(bytes));
    return true;
}

} // namespace quendal
