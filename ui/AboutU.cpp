#include "ui/AboutU.h"

#include "ui/AppResources.h"
#include "ui/WidgetTexts.h"

#include <QDesktopServices>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QUrl>
#include <QVBoxLayout>

namespace duplora {

namespace {

constexpr int kFontPixels = 16; // the box's font height
const QColor kLinkBlue(0, 0, 255);

QFont pixelFont(QFont f) {
    f.setPixelSize(kFontPixels);
    return f;
}

} // namespace

TAboutForm::TAboutForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("AboutForm"));
    InitAppResources();
    setFont(pixelFont(font()));
    OpenUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };

    auto label = [this](const char* name) {
        auto* l = new QLabel(this);
        l->setObjectName(QLatin1String(name));
        l->installEventFilter(this);
        return l;
    };
    Image1 = label("Image1");
    Image1->setFixedSize(64, 64);
    // The icon engine renders the SVG at the screen's pixel ratio, so the
    // picture stays sharp at 200 %.
    Image1->setPixmap(QIcon(QStringLiteral(":/icons/duplora.svg")).pixmap(QSize(64, 64)));
    Label1 = label("Label1");
    Label1->setText(QStringLiteral("Duplora"));
    Label1->setAlignment(Qt::AlignCenter);
    Label2 = label("Label2");
    Label2->setText(QStringLiteral("V1.95")); // the version is not a table text
    Label2->setAlignment(Qt::AlignCenter);
    Label3 = label("Label3");
    Label3->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label4 = label("Label4");
    Label5 = label("Label5");
    Label5->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label6 = label("Label6");
    for (QLabel* link : {Label4, Label6}) {
        QPalette pal = link->palette();
        pal.setColor(QPalette::WindowText, kLinkBlue);
        link->setPalette(pal);
        link->setCursor(Qt::PointingHandCursor);
        link->setFont(pixelFont(QFont()));
    }
    QFont title = Label1->font();
    title.setBold(true);
    Label1->setFont(title);

    auto* titles = new QVBoxLayout;
    titles->addStretch();
    titles->addWidget(Label1);
    titles->addWidget(Label2);
    titles->addStretch();
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(16, 16, 16, 20);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(12);
    grid->addWidget(Image1, 0, 0, 1, 1, Qt::AlignLeft | Qt::AlignTop);
    grid->addLayout(titles, 0, 1, 1, 2);
    grid->addItem(new QSpacerItem(0, 10), 1, 0);
    grid->addWidget(Label3, 2, 0, 1, 1);
    grid->addWidget(Label4, 2, 1, 1, 2);
    grid->addWidget(Label5, 3, 0, 1, 1);
    grid->addWidget(Label6, 3, 1, 1, 2);
    grid->setColumnMinimumWidth(0, 84);
    grid->setColumnStretch(2, 1);
    grid->setSizeConstraint(QLayout::SetFixedSize);
}

void TAboutForm::ApplyTexts() {
    ApplyInterfaceFont(this);
    ApplyInterfaceFont(Label4);
    ApplyInterfaceFont(Label6);
    setWindowTitle(QMsg(39));
    Label1->setText(QMsg(0));
    Label3->setText(QMsg(40));
    Label4->setText(QMsg(41));
    Label5->setText(QMsg(42));
    Label6->setText(QMsg(43));
}

void TAboutForm::FormClick() {
    accept();
}

void TAboutForm::Label6Click() {
    const QString address = Label6->text().trimmed();
    if (address.isEmpty() || !OpenUrl)
        return;
    OpenUrl(QUrl::fromUserInput(address));
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == Label4) {
            Label4Click();
            return true;
        }
        if (watched == Label6) {
            Label6Click();
            return true;
        }
        if (watched == Image1 || watched == Label1 || watched == Label2 || watched == Label3 ||
            watched == Label5) {
            FormClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TAboutForm::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        FormClick();
    else
        QDialog::mouseReleaseEvent(event);
}

void TAboutForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Centred on the window that opened it.
    if (QWidget* owner = parentWidget()) {
        const QWidget* top = owner->window();
        move(top->frameGeometry().center() - rect().center());
    }
}

} // namespace duplora
