#include "ui/about_dialog.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/app_icon.h"
#include "ui/control_ids.h"
#include "ui/version.h"

namespace ui {

namespace {

constexpr int kFadeMs = 500;
constexpr const char* kMaker = "The Lumivane developers";
constexpr const char* kWebAddress = "https://lumivane.example/";

QLabel* CentredLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

}  // namespace

AboutDlg::AboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle("About Lumivane");
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* frame = new QGroupBox(this);
    auto* icon = new QLabel(frame);
    icon->setPixmap(AppIcon().pixmap(48, 48));
    icon->setAlignment(Qt::AlignCenter);
    QLabel* version = CentredLabel(QStringLiteral("Lumivane Version ") + kVersion, frame);
    version->setObjectName(ids::Name(ids::kVersionText));
    QLabel* link = CentredLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(kWebAddress), frame);
    link->setObjectName(ids::Name(ids::kWebLink));
    link->setTextFormat(Qt::RichText);
    link->setOpenExternalLinks(true);

    auto* inner = new QVBoxLayout(frame);
    inner->addWidget(icon);
    inner->addWidget(version);
    inner->addWidget(CentredLabel(kMaker, frame));
    inner->addWidget(link);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addWidget(buttons, 0, Qt::AlignHCenter);
    setFixedSize(sizeHint().expandedTo(QSize(475, 260)));
}

bool AboutDlg::CanAnimate() {
    const QString platform = QGuiApplication::platformName();
    return platform != "offscreen" && platform != "minimal";
}

void AboutDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!CanAnimate()) return;
    setWindowOpacity(0.0);
    Fade(1.0);
}

void AboutDlg::done(int result) {
    // OK, Escape and the close box all come here; the second call is the fade's end.
    if (!CanAnimate() || closing_) {
        QDialog::done(result);
        return;
    }
    closing_ = true;
    connect(Fade(0.0), &QPropertyAnimation::finished, this, [this, result] { done(result); });
}

QPropertyAnimation* AboutDlg::Fade(double to) {
    auto* fade = new QPropertyAnimation(this, "windowOpacity", this);
    fade->setDuration(kFadeMs);
    fade->setStartValue(windowOpacity());
    fade->setEndValue(to);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
    return fade;
}

}  // namespace ui
