#include "LogPane.h"

#include "LogText.h"

#include <QFile>
#include <QFileInfo>
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

namespace {

// Each line followed by CR LF, in slices of about 1 MiB so that a large log is never held twice.
bool WriteLines(QIODevice& AFile, const QStringList& ALines) {
    QByteArray bytes;
    for (const QString& line : ALines) {
        bytes += TLogPane::ToCodePage(line);
        bytes += "\r\n";
        if (bytes.size() >= (1 << 20)) {
            if (AFile.write(bytes) != bytes.size()) return false;
            bytes.clear();
        }
    }
    return AFile.write(bytes) == bytes.size();
}

} // namespace

bool TLogPane::SaveToFile(const QString& AFileName) const {
    // A device (/dev/null, /dev/full, a terminal) is written as it is: a replacement would
    // rename a regular file over the device node, which root may even do in /dev.
    const QFileInfo target(AFileName);
    if (target.exists() && !target.isFile() && !target.isDir()) {
        QFile device(AFileName);
        return device.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
               WriteLines(device, Lines());
    }
    QSaveFile file(AFileName);
    return file.open(QIODevice::WriteOnly) && WriteLines(file, Lines()) && file.commit();
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
