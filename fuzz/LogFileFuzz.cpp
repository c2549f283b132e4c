// The log file loader: a file's bytes decoded by their byte-order mark (UTF-8, UTF-16 LE or BE,
// odd lengths, invalid sequences) or by the code page, then broken into lines. Properties: the
// text is always valid UTF-16; a file without a mark is the code page's, byte for byte; a
// valid UTF-8 or UTF-16 body comes back unchanged when encoded again; the line breaks are
// exactly the file's CR LF, LF and CR; and lines saved (each with CR LF in the code page) load
// back as the same lines unless the saved bytes start like a byte-order mark.
#include "FuzzCheck.h"
#include "LogText.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>

#include <cstddef>
#include <cstdint>

using namespace quendal;

namespace {

bool StartsWithMark(const QByteArray& ABytes) {
    return ABytes.startsWith("\xEF\xBB\xBF") || ABytes.startsWith("\xFF\xFE") ||
           ABytes.startsWith("\xFE\xFF");
}

// Whether ABytes are whole UTF-16 units whose surrogates all come in pairs.
bool IsValidUtf16(const QByteArray& ABytes, bool ALittle) {
    if (ABytes.size() % 2 != 0) return false;
    auto unit = [&](qsizetype k) {
        const auto a = static_cast<unsigned char>(ABytes[2 * k]);
        const auto b = static_cast<unsigned char>(ABytes[2 * k + 1]);
        return static_cast<char16_t>(ALittle ? (b << 8 | a) : (a << 8 | b));
    };
    const qsizetype count = ABytes.size() / 2;
    for (qsizetype k = 0; k < count; ++k) {
        const QChar c(unit(k));
        if (c.isHighSurrogate() && k + 1 < count && QChar(unit(k + 1)).isLowSurrogate())
            ++k;
        else if (c.isSurrogate())
            return false;
    }
    return true;
}

void CheckDecoding(const QByteArray& ABytes, const QString& AText) {
    FUZZ_CHECK(QStringView(AText).isValidUtf16());
    if (!StartsWithMark(ABytes)) {
        FUZZ_CHECK(AText.size() == ABytes.size());
        FUZZ_CHECK(LogTextToBytes(AText) == ABytes);
        return;
    }
    if (ABytes.startsWith("\xEF\xBB\xBF")) {
        const QByteArray body = ABytes.mid(3);
        if (QByteArrayView(body).isValidUtf8()) FUZZ_CHECK(AText.toUtf8() == body);
        return;
    }
    const bool little = ABytes.startsWith("\xFF\xFE");
    const QByteArray body = ABytes.mid(2);
    // Two bytes make at most one unit; an odd last byte makes none.
    FUZZ_CHECK(AText.size() <= body.size() / 2);
    if (IsValidUtf16(body, little)) {
        QStringEncoder encoder(little ? QStringEncoder::Utf16LE : QStringEncoder::Utf16BE);
        FUZZ_CHECK(QByteArray(encoder(AText)) == body);
    }
}

// The lines as the pane shows them: a break at the very end starts no further line.
QStringList Lines(const QString& AText) {
    QStringList lines = NormalizeLineBreaks(AText).split(QLatin1Char('\n'));
    if (lines.back().isEmpty()) lines.removeLast();
    return lines;
}

void CheckLineBreaks(const QString& AText) {
    const QString normal = NormalizeLineBreaks(AText);
    FUZZ_CHECK(!normal.contains(QLatin1Char('\r')));
    qsizetype breaks = 0;
    for (qsizetype i = 0; i < AText.size(); ++i) {
        if (AText[i] == QLatin1Char('\r')) {
            ++breaks;
            if (i + 1 < AText.size() && AText[i + 1] == QLatin1Char('\n')) ++i;
        } else if (AText[i] == QLatin1Char('\n')) {
            ++breaks;
        }
    }
    FUZZ_CHECK(normal.count(QLatin1Char('\n')) == breaks);
    FUZZ_CHECK(normal.size() == AText.size() - AText.count(QLatin1String("\r\n")));
}

void CheckSaveAndLoad(const QString& AText) {
    const QStringList lines = Lines(AText);
    QByteArray saved;
    for (const QString& line : lines) {
        const QByteArray bytes = LogTextToBytes(line);
        // Characters the code page lacks cannot be saved unchanged.
        if (LogBytesToText(bytes) != line) return;
        saved += bytes;
        saved += "\r\n";
    }
    if (StartsWithMark(saved)) return;
    FUZZ_CHECK(Lines(DecodeLogFile(saved)) == lines);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    const QByteArray bytes(reinterpret_cast<const char*>(AData), static_cast<qsizetype>(ASize));
    const QString text = DecodeLogFile(bytes);
    CheckDecoding(bytes, text);
    CheckLineBreaks(text);
    CheckSaveAndLoad(text);
    return 0;
}
