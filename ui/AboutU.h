#pragma once
// TAboutForm: the about box. A click anywhere but on the maker's name or web
// address closes it; the web address opens in the desktop's browser.

#include <QDialog>

#include <functional>

class QLabel;
class QUrl;

namespace duplora {

class TAboutForm : public QDialog {
    Q_OBJECT
public:
    explicit TAboutForm(QWidget* parent = nullptr);

    void ApplyTexts();

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr; // product name
    QLabel* Label2 = nullptr; // version
    QLabel* Label3 = nullptr; // "Developer:"
    QLabel* Label4 = nullptr; // maker's name
    QLabel* Label5 = nullptr; // "Web Site:"
    QLabel* Label6 = nullptr; // maker's web address

    // Opens an address; QDesktopServices::openUrl unless a test replaces it.
    std::function<bool(const QUrl&)> OpenUrl;

    void FormClick();
    void Label4Click() {}
    void Label6Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;
};

} // namespace duplora
