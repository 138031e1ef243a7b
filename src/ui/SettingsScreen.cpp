#include "ui/SettingsScreen.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "platform/PlatformWords.h"
#include "ui/PanelSwitch.h"
#include "ui/PanelWidgetKit.h"
#include "ui/ProviderMarkView.h"
#include "ui/ProviderSwitch.h"
#include "ui/QuotaSegmentedControl.h"
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
    stack->addWidget(makeNotificationsBlock(document));
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

QWidget* SettingsScreen::makeNotificationsBlock(QWidget* parent) const {
    auto* block = Kit::makeTransparent(parent);
    block->setObjectName(QStringLiteral("notificationSettings"));
    block->setFixedWidth(Kit::documentWidth);
    QVBoxLayout* stack = Kit::makeStack(block, 8);

    auto* row = Kit::makeTransparent(block);
    row->setFixedSize(Kit::documentWidth, 44);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(9);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(
        Kit::makeLabel(QStringLiteral("Уведомления"), 12, QFont::Normal, QuotaTheme::text(), row));
    texts->addWidget(Kit::makeLabel(QStringLiteral("Когда лимит кончается или снова доступен"), 10,
                                    QFont::Normal, QuotaTheme::muted(), row));
    layout->addLayout(texts);
    layout->addStretch();
    auto* toggle = new PanelSwitch(QStringLiteral("Уведомления"), row);
    toggle->setObjectName(QStringLiteral("notifications-toggle"));
    toggle->setChecked(notifications_.enabled);
    QObject::connect(toggle, &QAbstractButton::clicked, &context_.owner,
                     [action = context_.actions.notificationsToggled](bool checked) {
                         if (action) action(checked);
                     });
    layout->addWidget(toggle);
    stack->addWidget(row);

    const auto addThreshold = [&](const QString& title, const auto& choices, int selected,
                                  const std::function<void(int)>& action, const char* name) {
        auto* line = Kit::makeTransparent(block);
        line->setFixedWidth(Kit::documentWidth);
        auto* lineLayout = new QHBoxLayout(line);
        lineLayout->setContentsMargins(0, 0, 0, 0);
        lineLayout->setSpacing(8);
        lineLayout->addWidget(Kit::makeLabel(title, 11, QFont::Normal, QuotaTheme::muted(), line));
        lineLayout->addStretch();
        QStringList labels;
        int index = -1;
        for (std::size_t i = 0; i < choices.size(); ++i) {
            labels << QString::number(choices[i]) + QStringLiteral("%");
            if (choices[i] == selected) index = static_cast<int>(i);
        }
        auto* control = new QuotaSegmentedControl(
            labels, 44 * static_cast<int>(choices.size()),
            [action, choices](int segment) {
                if (action && segment >= 0 && segment < static_cast<int>(choices.size())) {
                    action(choices[static_cast<std::size_t>(segment)]);
                }
            },
            line);
        if (index >= 0) control->setSelectedSegment(index);
        control->setAccessibleName(title);
        control->setObjectName(QString::fromLatin1(name));
        control->setEnabled(notifications_.enabled);
        lineLayout->addWidget(control);
        stack->addWidget(line);
    };
    addThreshold(QStringLiteral("Когда осталось меньше"), lowChoices, notifications_.thresholds.low,
                 context_.actions.notifyBelowSelected, "notifyBelow");
    addThreshold(QStringLiteral("И еще раз, когда меньше"), criticalChoices,
                 notifications_.thresholds.critical, context_.actions.notifyCriticalSelected,
                 "notifyCritical");
    return block;
}

}  // namespace kestrane::ui
