#include "LogText.h"

#include "CodePage.h"

namespace quendal {

QString LogBytesToText(std::string_view ABytes) {
    QString text(static_cast<qsizetype>(ABytes.size()), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char byte : ABytes)
        *out++ = QChar(CodePageToUnicode(static_cast<unsigned char>(byte)));
    return text;
}

std::string LogTextToBytes(QStringView AText) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(AText.size()));
    for (qsizetype i = 0; i < AText.size(); ++i) {
        char32_t code = AText[i].unicode();
        if (AText[i].isHighSurrogate() && i + 1 < AText.size() && AText[i + 1].isLowSurrogate()) {
            code = QChar::surrogateToUcs4(AText[i], AText[i + 1]);
            ++i;
        }
        bytes += UnicodeToCodePage(code);
    }
    return bytes;
}

} // namespace quendal
