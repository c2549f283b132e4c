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
    return Utf16ToCodePage(
        std::u16string_view(AText.utf16(), static_cast<std::size_t>(AText.size())));
}

} // namespace quendal
