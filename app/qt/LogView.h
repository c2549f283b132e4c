// The log pane: a read-only view of the whole log that paints only the rows in sight, read
// from the log's journal, so that a log of any size costs the view the same memory.
//
// Rows are wrapped to the pane's width. The view follows the newest text while it is scrolled
// to the end and stays put while the user has scrolled up. Text is selected with the mouse or
// with the keyboard (Shift with the arrow, Home, End and page keys; Ctrl+A selects all) and
// copied with Ctrl+C. The vertical scroll bar moves by rows of the log; the wheel and the
// keys move by lines on the screen, so a long wrapped row can be read line by line.
#pragma once

#include "Log.h"
#include "LogTasks.h"

#include <QAbstractScrollArea>
#include <QMenu>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>

namespace quendal {

struct TLaidOutRow;

class TLogView : public QAbstractScrollArea {
    Q_OBJECT

public:
    // A copy of more than this is refused: the clipboard would hold it several times over.
    static constexpr std::uint64_t MaxCopyBytes = std::uint64_t{32} << 20;

    // Shows ALog, which must outlive the view.
    explicit TLogView(const TLog& ALog, QWidget* AParent = nullptr);
    ~TLogView() override;

    // Tells the view that the log changed; the view catches up at the screen's pace.
    void LogChanged();

    // The log's lines as a saved log has them (for tests and small logs: it reads everything).
    QStringList Lines() const;
    // The selected text, with line breaks as LF.
    QString SelectedText() const;
    std::uint64_t SelectionStart() const { return std::min(FAnchor, FCaret); }
    std::uint64_t SelectionEnd() const { return std::max(FAnchor, FCaret); }
    // The text of a row as the pane shows it (its time first, or its hex form).
    QString ShownRow(std::uint64_t ARow) const;
    // Whether the view follows the newest text.
    bool Following() const { return FFollow; }

    void SelectAll();
    // Copies the selection; refuses, with a message, a selection above MaxCopyBytes.
    void Copy();
    // Selects ACount bytes at AOffset and scrolls them into sight.
    void Select(std::uint64_t AOffset, std::uint64_t ACount);
    // Asks for a text and finds it; finds the last one again, forward or backward.
    void Find();
    void FindAgain(bool AForward);

    // Each line's time before its first row.
    void SetShowStamps(bool AShow);
    bool ShowStamps() const { return FStamps; }
    // The log as offset, 16 bytes in hex and their characters a row.
    void SetHexView(bool AHex);
    bool HexView() const { return FHex; }
    // Called to add the window's own entries to the pane's context menu.
    void SetOnMenu(std::function<void(QMenu&)> AOnMenu) { FOnMenu = std::move(AOnMenu); }

protected:
    void paintEvent(QPaintEvent* AEvent) override;
    void resizeEvent(QResizeEvent* AEvent) override;
    void changeEvent(QEvent* AEvent) override;
    void keyPressEvent(QKeyEvent* AEvent) override;
    void mousePressEvent(QMouseEvent* AEvent) override;
    void mouseMoveEvent(QMouseEvent* AEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* AEvent) override;
    void wheelEvent(QWheelEvent* AEvent) override;
    void contextMenuEvent(QContextMenuEvent* AEvent) override;
    void focusInEvent(QFocusEvent* AEvent) override;
    void focusOutEvent(QFocusEvent* AEvent) override;

private:
    // A place on the screen's lines: a row of the log and a wrapped line of it.
    struct TLinePos {
        std::uint64_t Row = 0;
        int Line = 0;
    };

    // Takes in what changed in the log and repaints.
    void Refresh();
    // Takes in what changed in the log, for a paint under way.
    void CatchUp();
    // Catches up if the log changed since the last refresh: before the user acts on the view.
    void Settle();
    void Reset();
    // The row laid out at the pane's width, from a small cache.
    const TLaidOutRow& Laid(std::uint64_t ARow) const;
    int LineCount(std::uint64_t ARow) const;
    void ForgetLayouts() const;
    int VisibleLines() const;
    int LineHeight() const;
    // The top line that shows the end of the log at the bottom of the pane.
    TLinePos BottomTop() const;
    // APos moved by ALines screen lines (negative: up), kept within the log.
    TLinePos Moved(TLinePos APos, std::int64_t ALines) const;
    bool Before(TLinePos A, TLinePos B) const;
    void ScrollTo(TLinePos ATop);
    void ScrollByLines(std::int64_t ALines);
    void UpdateScrollBar();
    void ScrollBarMoved(int AValue);
    int RowToBar(std::uint64_t ARow) const;
    std::uint64_t BarToRow(int AValue) const;
    // Rows as the view shows them: the log's, or 16 bytes each in the hex view.
    std::uint64_t RowsNow() const;
    TRowSpan SpanOf(std::uint64_t ARow) const;
    std::uint64_t RowAt(std::uint64_t AOffset) const;
    // A log offset as a position in a row's laid-out text, and back.
    int PositionOf(const TLaidOutRow& ARow, std::uint64_t AOffset) const;
    std::uint64_t OffsetOf(const TLaidOutRow& ARow, int APosition) const;
    void ModeChanged();
    // The log offset under a point of the viewport.
    std::uint64_t OffsetAt(QPoint APoint) const;
    // The screen line of an offset, and its x position.
    TLinePos LineOf(std::uint64_t AOffset, qreal* AX = nullptr) const;
    std::uint64_t OffsetOnLine(TLinePos APos, qreal AX) const;
    void MoveCaret(std::uint64_t AOffset, bool AExtend);
    void EnsureCaretVisible();

    const TLog& FLog;
    std::uint64_t FGeneration = 0;
    std::uint64_t FRows = 1;
    std::uint64_t FSize = 0;
    TLinePos FTop;
    bool FFollow = true;
    bool FStamps = false;
    bool FHex = false;
    std::function<void(QMenu&)> FOnMenu;
    QString FFindText;
    std::unique_ptr<TFindTask> FFind;
    std::uint64_t FAnchor = 0;
    std::uint64_t FCaret = 0;
    // The caret shows once the user has placed it, with the mouse or the keyboard.
    bool FCaretShown = false;
    bool FRefreshPending = false;
    bool FSettingBar = false;
    QTimer FRefreshTimer;
    // Laid-out rows: those far from the pane are forgotten beyond a budget of characters, all
    // of them when the width or the font changes.
    static constexpr std::uint64_t LayoutBudget = 64 * 1024;
    static constexpr std::size_t MaxLayouts = 512;
    mutable std::unordered_map<std::uint64_t, std::unique_ptr<TLaidOutRow>> FLayouts;
    mutable int FLayoutWidth = -1;
    mutable std::uint64_t FLaidOutBytes = 0;
    void TrimLayouts() const;
};

} // namespace quendal
