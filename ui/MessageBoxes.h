#pragma once
// The windows' message boxes: text and caption from the text table, an OK
// button for errors and notices, Yes and No for questions. Tests answer them
// through a hook instead of a screen.

#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace duplora {

// Error: OK button, error icon. Notice: OK button, information icon.
enum class BoxKind { Ok, Notice, YesNo };

// Shows the box modally over `parent`; true for Yes (always true for OK).
bool ShowBox(QWidget* parent, BoxKind kind, const QString& text, const QString& caption);

inline void ErrorBox(QWidget* parent, const QString& text, const QString& caption) {
    ShowBox(parent, BoxKind::Ok, text, caption);
}
inline void NoticeBox(QWidget* parent, const QString& text, const QString& caption) {
    ShowBox(parent, BoxKind::Notice, text, caption);
}
inline bool YesNoBox(QWidget* parent, const QString& text, const QString& caption) {
    return ShowBox(parent, BoxKind::YesNo, text, caption);
}

// Yes and No as YesNoBox, but Esc or the box's close button gives no answer
// at all (nothing): the question is withdrawn rather than answered No. Yes is
// the default button. Through the hook, a YesNo box whose answer is Yes or No.
std::optional<bool> YesNoOrEscBox(QWidget* parent, const QString& text, const QString& caption);

// While set, every box is given to the hook instead of being shown; the
// hook's answer is the box's. An empty hook restores the real boxes.
using BoxHook = std::function<bool(BoxKind kind, const QString& text, const QString& caption)>;
void SetBoxHook(BoxHook hook);

} // namespace duplora
