#pragma once
// TTrayIcon: the program's icon in the desktop's notification area, over
// QSystemTrayIcon. While Active the icon is there; Hint is the tip shown.
// Mouse events come as OnClick (left button), OnDblClick and OnRightClick
// (which opens PopupMenu first, when one is set).

#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QString>

#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace duplora {

class TTrayIcon : public QObject {
    Q_OBJECT
public:
    // The private event that re-applies ToolTip once after the icon is added.
    static constexpr int kReapplyEvent = 1026;
    static constexpr int kHintBytes = 60;
    static constexpr int kToolTipBytes = 62;

    explicit TTrayIcon(QObject* parent = nullptr);
    ~TTrayIcon() override; // removes the icon when it is there

    bool Active() const { return active_; }
    void SetActive(bool on);
    const QIcon& Icon() const { return icon_; }
    void SetIcon(const QIcon& icon);
    // Longer texts are cut to their longest run of whole UTF-8 characters
    // that fits the byte limit.
    const QString& Hint() const { return hint_; }
    void SetHint(const QString& text);
    const QString& ToolTip() const { return toolTip_; }
    void SetToolTip(const QString& text);
    // The tip the desktop shows over the icon, when set in place of Hint:
    // several lines (the last unattended run, the next scheduled one), not
    // cut. Empty: Hint.
    const QString& StatusTip() const { return statusTip_; }
    void SetStatusTip(const QString& text);
    QMenu* PopupMenu = nullptr;

    std::function<void(TTrayIcon* sender)> OnClick;
    std::function<void(TTrayIcon* sender)> OnDblClick;
    std::function<void(TTrayIcon* sender, Qt::MouseButton, Qt::KeyboardModifiers, int x, int y)>
        OnRightClick;

    // The platform's icon while Active, else null.
    QSystemTrayIcon* platformIcon() const { return tray_.get(); }
    // How often the platform's icon was added, changed and removed (the three
    // notification calls): what a test can see of the notification area.
    struct Calls {
        int add = 0, modify = 0, remove = 0;
    };
    const Calls& calls() const { return calls_; }

    // The events as the platform gives them: 514 left button up, 515 left
    // double click, 517 right button up.
    void Notify(int mouseMessage, QPoint cursor);

protected:
    bool event(QEvent* e) override;

private:
    void modify();

    bool active_ = false;
    QIcon icon_;
    QString hint_;
    QString toolTip_;
    QString statusTip_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    Calls calls_;
};

} // namespace duplora
