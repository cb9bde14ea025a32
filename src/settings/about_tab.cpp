#include "settings/about_tab.h"

#include "settings/settings_style.h"

#include "harborwatch_version.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

AboutTab::AboutTab(QWidget* parent) : QWidget(parent) {
    auto* symbol = new QLabel;
    symbol->setObjectName(QStringLiteral("programSymbol"));
    QPixmap pixmap = settings_style::programSymbol().pixmap(64, 64);
    // A theme that has the icon only in small sizes still gives a large symbol.
    if (pixmap.deviceIndependentSize().width() < 64)
        pixmap = pixmap.scaled(QSize(64, 64) * pixmap.devicePixelRatio(), Qt::KeepAspectRatio,
                               Qt::SmoothTransformation);
    symbol->setPixmap(pixmap);

    auto* name = new QLabel(tr("Harborwatch"));
    name->setFont(settings_style::titleFont(name->font()));

    auto* version = new QLabel(tr("Version %1").arg(QStringLiteral(HARBORWATCH_VERSION)));
    version->setFont(settings_style::captionFont(version->font()));
    settings_style::makeSecondary(version);

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    auto* dividerRow = new QHBoxLayout;
    dividerRow->setContentsMargins(40, 0, 40, 0);
    dividerRow->addWidget(divider);

    auto* description = new QLabel(
        tr("A simple menu bar app to monitor local development servers and the ports they're "
           "running on."));
    description->setObjectName(QStringLiteral("description"));
    description->setWordWrap(true);
    description->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    settings_style::makeSecondary(description);

    auto* credit = new QLabel(tr("Created by Vesk"));
    credit->setFont(settings_style::headlineFont(credit->font()));

    // The description block keeps the usual side margins of a layout.
    auto* block = new QVBoxLayout;
    const int side = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
    block->setContentsMargins(side, 0, side, 0);
    block->setSpacing(8);
    block->addWidget(description);
    block->addSpacing(8);
    block->addWidget(credit, 0, Qt::AlignHCenter);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(16);
    layout->addWidget(symbol, 0, Qt::AlignHCenter);
    layout->addWidget(name, 0, Qt::AlignHCenter);
    layout->addWidget(version, 0, Qt::AlignHCenter);
    layout->addLayout(dividerRow);
    layout->addLayout(block);
    layout->addStretch();
}
