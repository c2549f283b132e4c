#include "LogView.h"

#include "CodePage.h"
#include "LogText.h"
#include "TaskProgress.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>

#include <algorithm>
#include <climits>
#include <cmath>

namespace quendal {

namespace {

constexpr int Margin = 2;
// Changes reach the screen at most this often: a device that sends thousands of pieces a
// second costs one repaint per frame, not one per piece.
constexpr int RefreshMs = 16;

} // namespace

struct TLaidOutRow {
    TRowSpan Span;
    // Characters before the row's text: its line's time.
    int Prefix = 0;
    // In the hex view: where the first byte's two digits are; -1 elsewhere.
    int HexColumn = -1;
    QTextLayout Layout;
};

namespace {

constexpr std::uint64_t HexRowBytes = 16;

// The character of a byte in the hex view's right column: itself when printable, else ".".
QChar Printable(unsigned char AByte) {
    const QChar c(CodePageToUnicode(AByte));
    return c.isPrint() ? c : QLatin1Char('.');
}

} // namespace

TLogView::TLogView(const TLog& ALog, QWidget* AParent)
    : QAbstractScrollArea(AParent)
    , FLog(ALog)
    , FGeneration(ALog.Generation()) {
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLayoutDirection(Qt::LeftToRight);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    FRefreshTimer.setSingleShot(true);
    FRefreshTimer.setInterval(RefreshMs);
    connect(&FRefreshTimer, &QTimer::timeout, this, [this] { Refresh(); });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this](int AValue) { ScrollBarMoved(AValue); });
    Refresh();
}

TLogView::~TLogView() = default;

void TLogView::LogChanged() {
    if (FLog.Generation() != FGeneration) {
        Refresh(); // a new log: at once, so that nothing of the old one is read
        return;
    }
    if (!FRefreshTimer.isActive()) FRefreshTimer.start();
}

void TLogView::Reset() {
    FGeneration = FLog.Generation();
    FTop = {};
    FFollow = true;
    FAnchor = FCaret = 0;
    FRows = 1;
    FSize = 0;
    ForgetLayouts();
}

void TLogView::Refresh() {
    CatchUp();
    viewport()->update();
}

void TLogView::CatchUp() {
    FRefreshTimer.stop();
    if (FLog.Generation() != FGeneration) Reset();
    const TLogStore& store = FLog.Store();
    if (store.Size() != FSize) {
        // Only the last row can have grown; rows before it never change.
        for (auto it = FLayouts.begin(); it != FLayouts.end();) {
            if (it->first + 1 < FRows) {
                ++it;
                continue;
            }
            FLaidOutBytes -= it->second->Span.Length;
            it = FLayouts.erase(it);
        }
        FSize = store.Size();
        FRows = RowsNow();
    }
    FAnchor = std::min(FAnchor, FSize);
    FCaret = std::min(FCaret, FSize);
    if (FFollow) FTop = BottomTop();
    UpdateScrollBar();
    TrimLayouts();
}

int TLogView::LineHeight() const {
    return std::max(1, fontMetrics().lineSpacing());
}

int TLogView::VisibleLines() const {
    return std::max(1, viewport()->height() / LineHeight());
}

void TLogView::ForgetLayouts() const {
    FLayouts.clear();
    FLaidOutBytes = 0;
}

void TLogView::TrimLayouts() const {
    if (FLaidOutBytes <= LayoutBudget && FLayouts.size() <= MaxLayouts) return;
    // Rows around the pane stay: painting and the keys need them next.
    const std::uint64_t keepFrom = FTop.Row > 64 ? FTop.Row - 64 : 0;
    const std::uint64_t keepTo = FTop.Row + static_cast<std::uint64_t>(VisibleLines()) + 64;
    for (auto it = FLayouts.begin(); it != FLayouts.end();) {
        if (it->first >= keepFrom && it->first <= keepTo) {
            ++it;
            continue;
        }
        FLaidOutBytes -= it->second->Span.Length;
        it = FLayouts.erase(it);
    }
}

const TLaidOutRow& TLogView::Laid(std::uint64_t ARow) const {
    const int width = std::max(1, viewport()->width() - 2 * Margin);
    if (width != FLayoutWidth) {
        ForgetLayouts();
        FLayoutWidth = width;
    }
    auto found = FLayouts.find(ARow);
    if (found != FLayouts.end()) return *found->second;
    auto row = std::make_unique<TLaidOutRow>();
    row->Span = SpanOf(ARow);
    FLaidOutBytes += row->Span.Length;
    const std::string bytes =
        FLog.Store().Read(row->Span.Offset, static_cast<std::size_t>(row->Span.Length));
    QString text;
    if (FHex) {
        // "0000001F  2B 32 ... 0A  +23.001 .C.." : the offset, the bytes, their characters.
        text = QStringLiteral("%1  ").arg(row->Span.Offset, FSize > 0xFFFFFFFFu ? 12 : 8, 16,
                                          QLatin1Char('0'));
        row->HexColumn = static_cast<int>(text.size());
        for (std::uint64_t i = 0; i < HexRowBytes; ++i)
            text += i < bytes.size()
                        ? QStringLiteral("%1 ")
                              .arg(static_cast<unsigned char>(bytes[i]), 2, 16, QLatin1Char('0'))
                              .toUpper()
                        : QStringLiteral("   ");
        text += QLatin1Char(' ');
        for (const char byte : bytes)
            text += Printable(static_cast<unsigned char>(byte));
    } else {
        if (FStamps && row->Span.FirstOfLine) {
            const std::string stamp = StampText(FLog.Store().StampOf(row->Span.Line));
            if (!stamp.empty()) text = QString::fromStdString(stamp + "  ");
            row->Prefix = static_cast<int>(text.size());
        }
        text += LogBytesToText(bytes);
    }
    row->Layout.setText(text);
    if (row->Prefix > 0) {
        QTextCharFormat stamp;
        stamp.setForeground(palette().brush(QPalette::Disabled, QPalette::Text));
        row->Layout.setFormats({{0, row->Prefix, stamp}});
    }
    row->Layout.setFont(font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    row->Layout.setTextOption(option);
    row->Layout.setCacheEnabled(true);
    row->Layout.beginLayout();
    for (int y = 0;; y += LineHeight()) {
        QTextLine line = row->Layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
    }
    row->Layout.endLayout();
    return *FLayouts.emplace(ARow, std::move(row)).first->second;
}

int TLogView::LineCount(std::uint64_t ARow) const {
    return std::max(1, Laid(ARow).Layout.lineCount());
}

TLogView::TLinePos TLogView::BottomTop() const {
    std::uint64_t row = FRows - 1;
    int remaining = VisibleLines() - LineCount(row);
    while (remaining > 0 && row > 0) {
        --row;
        remaining -= LineCount(row);
    }
    return {row, remaining < 0 ? -remaining : 0};
}

bool TLogView::Before(TLinePos A, TLinePos B) const {
    return A.Row != B.Row ? A.Row < B.Row : A.Line < B.Line;
}

TLogView::TLinePos TLogView::Moved(TLinePos APos, std::int64_t ALines) const {
    while (ALines > 0) {
        const int count = LineCount(APos.Row);
        if (APos.Line + ALines < count) {
            APos.Line += static_cast<int>(ALines);
            break;
        }
        if (APos.Row + 1 >= FRows) {
            APos.Line = count - 1;
            break;
        }
        ALines -= count - APos.Line;
        ++APos.Row;
        APos.Line = 0;
    }
    while (ALines < 0) {
        if (APos.Line + ALines >= 0) {
            APos.Line += static_cast<int>(ALines);
            break;
        }
        if (APos.Row == 0) {
            APos.Line = 0;
            break;
        }
        ALines += APos.Line + 1;
        --APos.Row;
        APos.Line = LineCount(APos.Row) - 1;
    }
    return APos;
}

void TLogView::ScrollTo(TLinePos ATop) {
    const TLinePos bottom = BottomTop();
    FFollow = !Before(ATop, bottom);
    FTop = FFollow ? bottom : ATop;
    UpdateScrollBar();
    viewport()->update();
}

void TLogView::ScrollByLines(std::int64_t ALines) {
    ScrollTo(Moved(FTop, ALines));
}

int TLogView::RowToBar(std::uint64_t ARow) const {
    if (FRows - 1 <= INT_MAX) return static_cast<int>(ARow);
    return static_cast<int>(static_cast<double>(ARow) * INT_MAX / static_cast<double>(FRows - 1));
}

std::uint64_t TLogView::BarToRow(int AValue) const {
    if (FRows - 1 <= INT_MAX) return static_cast<std::uint64_t>(AValue);
    return static_cast<std::uint64_t>(static_cast<double>(AValue) * static_cast<double>(FRows - 1) /
                                      INT_MAX);
}

void TLogView::UpdateScrollBar() {
    QScrollBar* bar = verticalScrollBar();
    FSettingBar = true;
    const int maximum = RowToBar(BottomTop().Row);
    bar->setRange(0, maximum);
    bar->setPageStep(VisibleLines());
    bar->setSingleStep(1);
    bar->setValue(FFollow ? maximum : RowToBar(FTop.Row));
    FSettingBar = false;
}

void TLogView::ScrollBarMoved(int AValue) {
    if (FSettingBar) return;
    if (AValue >= verticalScrollBar()->maximum())
        ScrollTo(BottomTop());
    else
        ScrollTo({BarToRow(AValue), 0});
}

void TLogView::Settle() {
    if (FRefreshTimer.isActive() || FLog.Generation() != FGeneration) CatchUp();
}

void TLogView::paintEvent(QPaintEvent*) {
    // A paint (a grab, an expose) shows the log as it is now, not as at the last refresh.
    Settle();
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Text));
    const std::uint64_t start = SelectionStart(), end = SelectionEnd();
    const int height = viewport()->height();
    const int lineHeight = LineHeight();
    QTextCharFormat selected;
    selected.setBackground(palette().brush(QPalette::Highlight));
    selected.setForeground(palette().brush(QPalette::HighlightedText));
    int y = -FTop.Line * lineHeight;
    for (std::uint64_t row = FTop.Row; row < FRows && y < height; ++row) {
        const TLaidOutRow& laid = Laid(row);
        const std::uint64_t from = laid.Span.Offset, to = from + laid.Span.Length;
        QList<QTextLayout::FormatRange> ranges;
        if (start < end && start <= to && end > from) {
            const int a = PositionOf(laid, std::max(start, from));
            const int b = PositionOf(laid, std::min(end, to));
            if (b > a) ranges.append({a, b - a - (laid.HexColumn >= 0 ? 1 : 0), selected});
            if (laid.HexColumn >= 0 && b > a) {
                // The same bytes in the characters' column.
                const int characters = laid.HexColumn + 3 * static_cast<int>(HexRowBytes) + 1;
                ranges.append({characters + (a - laid.HexColumn) / 3, (b - a) / 3, selected});
            }
        }
        const QPointF at(Margin, y);
        laid.Layout.draw(&painter, at, ranges);
        if (FCaretShown && hasFocus() && FCaret >= from && FCaret <= to &&
            LineOf(FCaret).Row == row)
            laid.Layout.drawCursor(&painter, at, PositionOf(laid, FCaret));
        y += LineCount(row) * lineHeight;
    }
    TrimLayouts();
}

void TLogView::resizeEvent(QResizeEvent* AEvent) {
    QAbstractScrollArea::resizeEvent(AEvent);
    FTop.Line = 0;
    Refresh();
}

void TLogView::changeEvent(QEvent* AEvent) {
    QAbstractScrollArea::changeEvent(AEvent);
    if (AEvent->type() == QEvent::FontChange) {
        ForgetLayouts();
        FTop.Line = 0;
        Refresh();
    }
}

std::uint64_t TLogView::RowsNow() const {
    if (!FHex) return FLog.Store().RowCount();
    return std::max<std::uint64_t>(1, (FLog.Store().Size() + HexRowBytes - 1) / HexRowBytes);
}

TRowSpan TLogView::SpanOf(std::uint64_t ARow) const {
    if (!FHex) return FLog.Store().Row(ARow);
    TRowSpan span;
    span.Offset = ARow * HexRowBytes;
    span.Length = std::min(HexRowBytes, FSize - std::min(FSize, span.Offset));
    return span;
}

std::uint64_t TLogView::RowAt(std::uint64_t AOffset) const {
    if (!FHex) return FLog.Store().RowOf(AOffset);
    return std::min(AOffset / HexRowBytes, FRows - 1);
}

int TLogView::PositionOf(const TLaidOutRow& ARow, std::uint64_t AOffset) const {
    const auto byte =
        static_cast<int>(std::min(AOffset - std::min(AOffset, ARow.Span.Offset), ARow.Span.Length));
    return ARow.HexColumn >= 0 ? ARow.HexColumn + 3 * byte : ARow.Prefix + byte;
}

std::uint64_t TLogView::OffsetOf(const TLaidOutRow& ARow, int APosition) const {
    int byte = APosition - ARow.Prefix;
    if (ARow.HexColumn >= 0) {
        const int characters = ARow.HexColumn + 3 * static_cast<int>(HexRowBytes) + 1;
        byte =
            APosition >= characters ? APosition - characters : (APosition - ARow.HexColumn + 1) / 3;
    }
    return ARow.Span.Offset +
           std::min<std::uint64_t>(static_cast<std::uint64_t>(std::max(0, byte)), ARow.Span.Length);
}

TLogView::TLinePos TLogView::LineOf(std::uint64_t AOffset, qreal* AX) const {
    const std::uint64_t row = RowAt(AOffset);
    const TLaidOutRow& laid = Laid(row);
    const int position = PositionOf(laid, AOffset);
    const QTextLine line = laid.Layout.lineForTextPosition(position);
    if (AX != nullptr) *AX = line.isValid() ? line.cursorToX(position) : 0;
    return {row, line.isValid() ? line.lineNumber() : 0};
}

std::uint64_t TLogView::OffsetOnLine(TLinePos APos, qreal AX) const {
    const TLaidOutRow& laid = Laid(APos.Row);
    const QTextLine line = laid.Layout.lineAt(APos.Line);
    if (!line.isValid()) return laid.Span.Offset;
    return OffsetOf(laid, line.xToCursor(AX));
}

std::uint64_t TLogView::OffsetAt(QPoint APoint) const {
    const auto lines =
        static_cast<std::int64_t>(std::floor(static_cast<double>(APoint.y()) / LineHeight()));
    TLinePos pos = Moved(FTop, lines);
    // Below the last line of the log: its end.
    if (lines > 0 && pos.Row + 1 == FRows && pos.Line + 1 == LineCount(pos.Row) &&
        Moved(FTop, lines - 1).Row == pos.Row && Moved(FTop, lines - 1).Line == pos.Line)
        return FSize;
    return OffsetOnLine(pos, APoint.x() - Margin);
}

void TLogView::MoveCaret(std::uint64_t AOffset, bool AExtend) {
    FCaretShown = true;
    FCaret = std::min(AOffset, FSize);
    if (!AExtend) FAnchor = FCaret;
    EnsureCaretVisible();
    viewport()->update();
}

void TLogView::EnsureCaretVisible() {
    const TLinePos caret = LineOf(FCaret);
    if (Before(caret, FTop))
        ScrollTo(caret);
    else if (Before(Moved(FTop, VisibleLines() - 1), caret))
        ScrollTo(Moved(caret, -(VisibleLines() - 1)));
}

QString TLogView::ShownRow(std::uint64_t ARow) const {
    return Laid(ARow).Layout.text();
}

void TLogView::SelectAll() {
    Settle();
    FAnchor = 0;
    FCaret = FSize;
    viewport()->update();
}

QString TLogView::SelectedText() const {
    const std::uint64_t count = SelectionEnd() - SelectionStart();
    QString text =
        LogBytesToText(FLog.Store().Read(SelectionStart(), static_cast<std::size_t>(count)));
    return text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

void TLogView::Copy() {
    const std::uint64_t count = SelectionEnd() - SelectionStart();
    if (count == 0) return;
    if (count > MaxCopyBytes) {
        QMessageBox box(QMessageBox::Information, QApplication::applicationDisplayName(),
                        QStringLiteral("The selection is too large to copy (%1 MB). Save the log "
                                       "instead, or select less.")
                            .arg(count >> 20),
                        QMessageBox::Ok, this);
        box.exec();
        return;
    }
    QApplication::clipboard()->setText(SelectedText());
}

QStringList TLogView::Lines() const {
    const TLogStore& store = FLog.Store();
    const std::string all =
        store.Read(0, static_cast<std::size_t>(store.Size())) + std::string(store.SavedEnding());
    QStringList lines = LogBytesToText(all).split(QStringLiteral("\r\n"));
    lines.removeLast(); // after the last line's break
    return lines;
}

void TLogView::keyPressEvent(QKeyEvent* AEvent) {
    Settle();
    if (AEvent->key() == Qt::Key_Menu ||
        (AEvent->key() == Qt::Key_F10 && AEvent->modifiers() == Qt::ShiftModifier)) {
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(), QPoint(), Qt::NoModifier);
        contextMenuEvent(&menu);
        return;
    }
    if (AEvent == QKeySequence::Find) {
        Find();
        return;
    }
    if (AEvent == QKeySequence::FindNext || AEvent == QKeySequence::FindPrevious) {
        FindAgain(AEvent == QKeySequence::FindNext);
        return;
    }
    if (AEvent == QKeySequence::Copy) {
        Copy();
        return;
    }
    if (AEvent == QKeySequence::SelectAll) {
        SelectAll();
        return;
    }
    const bool extend = (AEvent->modifiers() & Qt::ShiftModifier) != 0;
    const bool control = (AEvent->modifiers() & Qt::ControlModifier) != 0;
    qreal x = 0;
    const TLinePos caret = LineOf(FCaret, &x);
    const TLaidOutRow& laid = Laid(caret.Row);
    const QTextLine line = laid.Layout.lineAt(caret.Line);
    const std::uint64_t rowEnd = laid.Span.Offset + laid.Span.Length;
    switch (AEvent->key()) {
    case Qt::Key_Up:
        MoveCaret(OffsetOnLine(Moved(caret, -1), x), extend);
        break;
    case Qt::Key_Down:
        MoveCaret(OffsetOnLine(Moved(caret, 1), x), extend);
        break;
    case Qt::Key_PageUp:
        ScrollByLines(-VisibleLines());
        MoveCaret(OffsetOnLine(Moved(caret, -VisibleLines()), x), extend);
        break;
    case Qt::Key_PageDown:
        ScrollByLines(VisibleLines());
        MoveCaret(OffsetOnLine(Moved(caret, VisibleLines()), x), extend);
        break;
    case Qt::Key_Left:
        if (FCaret == laid.Span.Offset && caret.Row > 0 && !FHex) {
            const TRowSpan previous = SpanOf(caret.Row - 1);
            MoveCaret(previous.Offset + previous.Length, extend);
        } else if (FCaret > 0) {
            MoveCaret(FCaret - 1, extend);
        }
        break;
    case Qt::Key_Right:
        if (FCaret >= rowEnd && caret.Row + 1 < FRows && !FHex)
            MoveCaret(SpanOf(caret.Row + 1).Offset, extend);
        else
            MoveCaret(FCaret + 1, extend);
        break;
    case Qt::Key_Home:
        MoveCaret(control ? 0 : OffsetOf(laid, line.textStart()), extend);
        break;
    case Qt::Key_End:
        MoveCaret(control ? FSize : OffsetOf(laid, line.textStart() + line.textLength()), extend);
        break;
    default:
        QAbstractScrollArea::keyPressEvent(AEvent);
        break;
    }
}

void TLogView::mousePressEvent(QMouseEvent* AEvent) {
    Settle();
    if (AEvent->button() != Qt::LeftButton) return;
    MoveCaret(OffsetAt(AEvent->position().toPoint()),
              (AEvent->modifiers() & Qt::ShiftModifier) != 0);
}

void TLogView::mouseMoveEvent(QMouseEvent* AEvent) {
    if ((AEvent->buttons() & Qt::LeftButton) == 0) return;
    const QPoint at = AEvent->position().toPoint();
    if (at.y() < 0)
        ScrollByLines(-1);
    else if (at.y() >= viewport()->height())
        ScrollByLines(1);
    FCaret = std::min(OffsetAt(at), FSize);
    viewport()->update();
}

void TLogView::mouseDoubleClickEvent(QMouseEvent* AEvent) {
    Settle();
    if (AEvent->button() != Qt::LeftButton) return;
    const std::uint64_t at = OffsetAt(AEvent->position().toPoint());
    const TLaidOutRow& laid = Laid(LineOf(at).Row);
    if (FHex) {
        FAnchor = at;
        FCaret = std::min(at + 1, laid.Span.Offset + laid.Span.Length);
        viewport()->update();
        return;
    }
    const QString text = laid.Layout.text().mid(laid.Prefix);
    const auto isWord = [&](qsizetype AIndex) { return text[AIndex].isLetterOrNumber(); };
    auto start = static_cast<qsizetype>(at - std::min(at, laid.Span.Offset));
    auto end = start;
    while (start > 0 && start <= text.size() && isWord(start - 1))
        --start;
    while (end < text.size() && isWord(end))
        ++end;
    FAnchor = laid.Span.Offset + static_cast<std::uint64_t>(start);
    FCaret = laid.Span.Offset + static_cast<std::uint64_t>(end);
    viewport()->update();
}

void TLogView::wheelEvent(QWheelEvent* AEvent) {
    Settle();
    const int steps = AEvent->angleDelta().y() / 120;
    if (steps != 0) ScrollByLines(-steps * QApplication::wheelScrollLines());
    AEvent->accept();
}

void TLogView::contextMenuEvent(QContextMenuEvent* AEvent) {
    Settle();
    QMenu menu(this);
    QAction* copy = menu.addAction(QStringLiteral("&Copy"), this, [this] { Copy(); });
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(SelectionEnd() > SelectionStart());
    menu.addAction(QStringLiteral("Select &All"), this, [this] { SelectAll(); })
        ->setShortcut(QKeySequence::SelectAll);
    menu.addSeparator();
    menu.addAction(QStringLiteral("&Find..."), this, [this] { Find(); })
        ->setShortcut(QKeySequence::Find);
    QAction* next = menu.addAction(QStringLiteral("Find &Next"), this, [this] { FindAgain(true); });
    next->setShortcut(QKeySequence::FindNext);
    next->setEnabled(!FFindText.isEmpty());
    QAction* previous =
        menu.addAction(QStringLiteral("Find &Previous"), this, [this] { FindAgain(false); });
    previous->setShortcut(QKeySequence::FindPrevious);
    previous->setEnabled(!FFindText.isEmpty());
    if (FOnMenu) FOnMenu(menu);
    menu.exec(AEvent->reason() == QContextMenuEvent::Mouse
                  ? AEvent->globalPos()
                  : viewport()->mapToGlobal(QPoint(Margin, LineHeight())));
}

void TLogView::Find() {
    bool ok = false;
    const QString text =
        QInputDialog::getText(this, QStringLiteral("Find"), QStringLiteral("Find in the log:"),
                              QLineEdit::Normal, FFindText, &ok);
    if (!ok || text.isEmpty()) return;
    FFindText = text;
    FindAgain(true);
}

void TLogView::FindAgain(bool AForward) {
    Settle();
    if (FFindText.isEmpty()) {
        Find();
        return;
    }
    if (FFind) return; // one search at a time
    // From after the current selection forward, or before it backward.
    const std::uint64_t from =
        AForward ? (SelectionEnd() > SelectionStart() ? SelectionStart() + 1 : FCaret)
                 : SelectionStart();
    FFind = std::make_unique<TFindTask>(FLog.Store(), LogTextToBytes(FFindText), from, AForward);
    const std::uint64_t generation = FGeneration;
    RunWithProgress(this, *FFind, QStringLiteral("Finding..."), [this, generation] {
        const std::unique_ptr<TFindTask> task = std::move(FFind);
        if (task->Cancelled() || generation != FLog.Generation()) return;
        if (!task->Succeeded() || task->Found() == TFindTask::NotFound) {
            QMessageBox box(QMessageBox::Information, QApplication::applicationDisplayName(),
                            QStringLiteral("\"%1\" was not found.").arg(FFindText), QMessageBox::Ok,
                            this);
            box.exec();
            return;
        }
        Select(task->Found(), static_cast<std::uint64_t>(LogTextToBytes(FFindText).size()));
    });
}

void TLogView::Select(std::uint64_t AOffset, std::uint64_t ACount) {
    Settle();
    FCaretShown = true;
    FAnchor = std::min(AOffset, FSize);
    FCaret = std::min(AOffset + ACount, FSize);
    EnsureCaretVisible();
    viewport()->update();
}

void TLogView::SetShowStamps(bool AShow) {
    if (AShow == FStamps) return;
    FStamps = AShow;
    ModeChanged();
}

void TLogView::SetHexView(bool AHex) {
    if (AHex == FHex) return;
    FHex = AHex;
    ModeChanged();
}

void TLogView::ModeChanged() {
    Settle();
    ForgetLayouts();
    FRows = RowsNow();
    if (FFollow) {
        FTop = BottomTop();
    } else {
        FTop = {RowAt(FCaret), 0};
    }
    UpdateScrollBar();
    if (!FFollow) EnsureCaretVisible();
    viewport()->update();
}

void TLogView::focusInEvent(QFocusEvent* AEvent) {
    QAbstractScrollArea::focusInEvent(AEvent);
    viewport()->update();
}

void TLogView::focusOutEvent(QFocusEvent* AEvent) {
    QAbstractScrollArea::focusOutEvent(AEvent);
    viewport()->update();
}

} // namespace quendal
