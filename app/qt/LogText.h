// Log text for Qt: the code page's bytes as a QString and back.
#pragma once

#include <QString>
#include <QStringView>

#include <string>
#include <string_view>

namespace quendal {

// Every byte is one character and back (see CodePage.h); characters the code page lacks become
// "?".
QString LogBytesToText(std::string_view ABytes);
std::string LogTextToBytes(QStringView AText);

} // namespace quendal
