// The logger's log pane: a read-only text view that received bytes are appended to.
//
// Appending costs in proportion to what is appended, never to the size of the log. Bytes become
// text through the system's single-byte code page (Latin-1 here), so every byte is shown and
// saved back unchanged. Lines break at CR LF, LF or CR; a CR LF split between two appends is
// one line break. The view follows the newest text while it is scrolled to the end and stays
// put when the user has scrolled up.
#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <QStringList>

#include <string>

namespace quendal {

class TLogPane : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit TLogPane(QWidget* AParent = nullptr);

    // Appends received bytes.
    void AppendBytes(const std::string& ABytes);
    // Appends text as it came, breaking lines at CR LF, LF and CR.
    void AppendText(const QString& AText);
    void Clear();

    // The lines of the log; a line break at the very end starts no further line.
    QStringList Lines() const;
    // Replaces the log with AText, breaking lines at CR LF, LF and CR.
    void SetText(const QString& AText);

    // Writes each line followed by CR LF in the code page, replacing AFileName atomically: on
    // failure the file keeps its earlier content. A name that is a device (or a link to one)
    // is written directly. False on failure.
    bool SaveToFile(const QString& AFileName) const;
    // Replaces the log with the file's content, decoded by its byte-order mark (UTF-8, UTF-16
    // LE or BE) or else by the code page. False, with the log unchanged, on failure.
    bool LoadFromFile(const QString& AFileName);

    // The byte and text conversions of the code page.
    static QString FromCodePage(const std::string& ABytes);
    static QByteArray ToCodePage(const QString& AText);

private:
    // A CR that ended the last append: an LF that starts the next one belongs to it.
    bool FPendingCR = false;
};

} // namespace quendal
