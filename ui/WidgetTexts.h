#pragma once
// Small bridges from the text table to Qt widgets, shared by the windows'
// ApplyTexts.

#include <QString>

#include <string_view>

class QWidget;

namespace duplora {

// Entry n of the current text table as a QString.
QString QMsg(int n);
QString QUtf8(std::string_view text);

// Sets the widget's font family to the interface font name when that family
// is installed; otherwise the widget keeps its font (the desktop's default).
// Returns whether the family was applied.
bool ApplyInterfaceFont(QWidget* widget);

} // namespace duplora
