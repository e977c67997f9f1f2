#include "platform/widgets/TrayIcon.h"

#include "platform/Utf8.h"

#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QMenu>
#include <QSystemTrayIcon>

namespace duplora {

namespace {

QString CutUtf8(const QString& text, int bytes) {
    const QByteArray utf8 = text.toUtf8();
    const std::string_view cut = Utf8Prefix(std::string_view(utf8.constData(), utf8.size()),
                                            static_cast<std::size_t>(bytes));
    return QString::fromUtf8(cut.data(), static_cast<qsizetype>(cut.size()));
}

} // namespace

TTrayIcon::TTrayIcon(QObject* parent) : QObject(parent) {}

TTrayIcon::~TTrayIcon() {
    SetActive(false);
}

void TTrayIcon::SetActive(bool on) {
    if (on == active_)
        return;
    active_ = on;
    if (!on) {
        ++calls_.remove;
        tray_->hide();
        // Not deleted at once: this may run inside the icon's own mouse
        // handler (a click that restores the window), which must return to
        // a living object. As a child it still goes with this object.
        tray_.release()->deleteLater();
        return;
    }
    tray_ = std::make_unique<QSystemTrayIcon>(icon_, this);
    tray_->setToolTip(statusTip_.isEmpty() ? hint_ : statusTip_);
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated, this,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         switch (reason) {
                         case QSystemTrayIcon::Trigger:
                             Notify(514, QCursor::pos());
                             break;
                         case QSystemTrayIcon::DoubleClick:
                             Notify(515, QCursor::pos());
                             break;
                         case QSystemTrayIcon::Context:
                             Notify(517, QCursor::pos());
                             break;
                         default:
                             break;
                         }
                     });
    ++calls_.add;
    tray_->show();
    if (toolTip_.isEmpty())
        QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(kReapplyEvent)));
}

void TTrayIcon::modify() {
    if (!active_)
        return;
    ++calls_.modify;
    tray_->setIcon(icon_);
    tray_->setToolTip(statusTip_.isEmpty() ? hint_ : statusTip_);
}

void TTrayIcon::SetStatusTip(const QString& text) {
    if (text == statusTip_)
        return;
    statusTip_ = text;
    modify();
}

void TTrayIcon::SetIcon(const QIcon& icon) {
    if (icon.cacheKey() == icon_.cacheKey())
        return;
    icon_ = icon;
    modify();
}

void TTrayIcon::SetHint(const QString& text) {
    const QString cut = CutUtf8(text, kHintBytes);
    if (cut == hint_)
        return;
    hint_ = cut;
    modify();
}

void TTrayIcon::SetToolTip(const QString& text) {
    toolTip_ = CutUtf8(text, kToolTipBytes);
    modify();
}

void TTrayIcon::Notify(int mouseMessage, QPoint cursor) {
    switch (mouseMessage) {
    case 514:
        // After the platform's event has been handled: the handler removes
        // the icon, and the desktop's tray must see the press end first.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (OnClick)
                    OnClick(this);
            },
            Qt::QueuedConnection);
        break;
    case 515:
        if (OnDblClick)
            OnDblClick(this);
        break;
    case 517:
        if (PopupMenu) {
            QCoreApplication::processEvents();
            PopupMenu->popup(cursor);
        }
        if (OnRightClick)
            OnRightClick(this, Qt::RightButton, Qt::NoModifier, cursor.x(), cursor.y());
        break;
    default:
        break;
    }
}

bool TTrayIcon::event(QEvent* e) {
    if (static_cast<int>(e->type()) == kReapplyEvent) {
        SetToolTip(toolTip_);
        return true;
    }
    return QObject::event(e);
}

} // namespace duplora
