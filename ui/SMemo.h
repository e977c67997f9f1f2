#pragma once
// TSMemo: a multi-line text area (read-only when asked) that can tell and set
// its first visible line. Lines never wrap, so a text line is a screen line.

#include <QPlainTextEdit>

#include <functional>

namespace duplora {

class TSMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TSMemo(QWidget* parent = nullptr);

    // Raised after the control has handled a horizontal or vertical scroll
    // bar action.
    std::function<void(TSMemo* sender)> OnHScroll;
    std::function<void(TSMemo* sender)> OnVScroll;

    // Number (from 0) of the first visible line.
    int FirstVisibleLine() const;
    // Scrolls so that `line` becomes the first visible line; when the text is
    // shorter the view stops at its end (ScrollToLine(1000000) shows the end).
    void ScrollToLine(int line);

    // Appends one line (the text may hold several, separated by '\n').
    void AddLine(const QString& line);
    int LineCount() const;
};

} // namespace duplora
