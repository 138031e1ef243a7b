#include "ui/SettingsScreen.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "platform/PlatformWords.h"
#include "ui/PanelWidgetKit.h"
#include "ui/ProviderMarkView.h"
#include "ui/ProviderSwitch.h"
#include "ui/QuotaTheme.h"

namespace kestrane::ui {

namespace {
using Kit = PanelWidgetKit;
}  // namespace

QWidget* SettingsScreen::make() const {
    auto* document = Kit::makeTransparent(&context_.owner);
    document->setObjectName(QStringLiteral("settings"));
    QVBoxLayout* stack = Kit::makeStack(document, 12);
    stack->addWidget(Kit::makeLabel(Kit::toQString(platform::trayServicesTitle()), 12,
                                    QFont::Normal, QuotaTheme::muted(), document));
    auto* rows = Kit::makeTransparent(document);
    QVBoxLayout* rowStack = Kit::makeStack(rows, 0);
    bool first = true;
    for (const ProviderViewState& state : states_) {
        if (!first) rowStack->addWidget(Kit::makeDivider(rows));
        first = false;
        rowStack->addWidget(makeRow(state, rows));
    }
    stack->addWidget(rows);
    return document;
}

QWidget* SettingsScreen::makeRow(const ProviderViewState& state, QWidget* parent) const {
    auto* row = Kit::makeTransparent(parent);
    row->setFixedSize(Kit::documentWidth, 44);
    row->setObjectName(QStringLiteral("settingsRow"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(9);
    layout->addWidget(new ProviderMarkView(state.provider, 22, QuotaTheme::text(), row));
    layout->addWidget(Kit::makeLabel(Kit::displayName(state.provider), 12, QFont::Normal,
                                     QuotaTheme::text(), row));
    layout->addStretch();
    auto* toggle = new ProviderSwitch(state.provider, row);
    toggle->setChecked(state.isEnabled);
    QObject::connect(toggle, &QAbstractButton::clicked, &context_.owner,
                     [action = context_.actions.providerToggled,
                      provider = state.provider](bool checked) { action(provider, checked); });
    layout->addWidget(toggle);
    return row;
}

}  // namespace kestrane::ui
