#include "ui/WidgetTexts.h"

#include "tasks/TextTable.h"

#include <QFontDatabase>
#include <QWidget>

namespace duplora {

QString QMsg(int n) {
    return QUtf8(Msg(n));
}

QString QUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool ApplyInterfaceFont(QWidget* widget) {
    const QString family = QUtf8(InterfaceFontName());
    if (family.isEmpty() || !QFontDatabase::hasFamily(family))
        return false;
    QFont f = widget->font();
    f.setFamily(family);
    widget->setFont(f);
    return true;
}

} // namespace duplora
