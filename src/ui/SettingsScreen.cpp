#include "ui/SettingsScreen.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "platform/PlatformWords.h"
#include "ui/PanelSwitch.h"
#include "ui/PanelTheme.h"
#include "ui/PanelWidgetKit.h"
#include "ui/ProviderMarkView.h"
#include "ui/ProviderSwitch.h"
#include "ui/SegmentedControl.h"

namespace kestrane::ui {

namespace {
using Kit = PanelWidgetKit;
}  // namespace

QWidget* SettingsScreen::make() const {
    auto* document = Kit::makeTransparent(&context_.owner);
    document->setObjectName(QStringLiteral("settings"));
    QVBoxLayout* stack = Kit::makeStack(document, 12);
    stack->addWidget(Kit::makeLabel(Kit::toQString(platform::trayServicesTitle()), 12,
                                    QFont::Normal, PanelTheme::muted(), document));
    auto* rows = Kit::makeTransparent(document);
    QVBoxLayout* rowStack = Kit::makeStack(rows, 0);
    bool first = true;
    for (const ProviderViewState& state : states_) {
        if (!first) rowStack->addWidget(Kit::makeDivider(rows));
        first = false;
        rowStack->addWidget(makeRow(state, rows));
    }
    stack->addWidget(rows);
    // Sections part by the same divider with the same room on both sides: the stack's spacing.
    stack->addWidget(Kit::makeDivider(document));
    stack->addWidget(makeNotificationsBlock(document));
    stack->addWidget(Kit::makeDivider(document));
    stack->addWidget(makeDesktopRows(document));
    return document;
}

QStringList SettingsScreen::trayIconStyleLabels() {
    return {QStringLiteral("автоматически"), QStringLiteral("светлые"), QStringLiteral("тёмные")};
}

QStringList SettingsScreen::panelAppearanceLabels() {
    return {QStringLiteral("как в системе"), QStringLiteral("светлое"), QStringLiteral("тёмное")};
}

namespace {

// A title over a segmented control as wide as the document ("автоматически" needs the room).
QWidget* makeChoiceRow(const QString& title, const QString& name, const QStringList& labels,
                       int selected, PanelActions& actions,
                       void (PanelActions::*chosen)(int segment), QWidget* parent) {
    auto* row = Kit::makeTransparent(parent);
    row->setFixedWidth(Kit::documentWidth);
    auto* layout = new QVBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(Kit::makeLabel(title, 12, QFont::Normal, PanelTheme::text(), row));
    auto* control = new SegmentedControl(labels, Kit::documentWidth, row);
    QObject::connect(control, &SegmentedControl::segmentChosen, &actions, chosen);
    control->setObjectName(name);
    control->setAccessibleName(title);
    control->setSelectedSegment(selected);
    layout->addWidget(control);
    return row;
}

}  // namespace

// --- The program on the desktop ------------------------------------------------------------
// The panel's appearance and the tray icons' tint (each the desktop's scheme, or always light
// or dark for whoever wants otherwise) and the XDG autostart entry.
QWidget* SettingsScreen::makeDesktopRows(QWidget* parent) const {
    auto* block = Kit::makeTransparent(parent);
    block->setObjectName(QStringLiteral("desktopSettings"));
    // The same spacing as between the screen's sections, around every divider.
    QVBoxLayout* stack = Kit::makeStack(block, 12);
    stack->addWidget(makeChoiceRow(QStringLiteral("Оформление"), QStringLiteral("panelAppearance"),
                                   panelAppearanceLabels(),
                                   static_cast<int>(desktop_.panelAppearance), context_.actions,
                                   &PanelActions::panelAppearanceSelected, block));
    stack->addWidget(Kit::makeDivider(block));
    stack->addWidget(makeChoiceRow(QStringLiteral("Значки в трее"), QStringLiteral("trayIconStyle"),
                                   trayIconStyleLabels(), static_cast<int>(desktop_.trayIconStyle),
                                   context_.actions, &PanelActions::trayIconStyleSelected, block));

    if (desktop_.startsAtLogin) {
        stack->addWidget(Kit::makeDivider(block));
        auto* login = Kit::makeTransparent(block);
        login->setObjectName(QStringLiteral("startAtLoginRow"));
        login->setFixedSize(Kit::documentWidth, 32);
        auto* loginLayout = new QHBoxLayout(login);
        loginLayout->setContentsMargins(0, 0, 0, 0);
        loginLayout->setSpacing(9);
        loginLayout->addWidget(Kit::makeLabel(QStringLiteral("Запускать при входе"), 12,
                                              QFont::Normal, PanelTheme::text(), login));
        loginLayout->addStretch();
        auto* toggle = new PanelSwitch(QStringLiteral("Запускать при входе"), login);
        toggle->setObjectName(QStringLiteral("startAtLoginToggle"));
        toggle->setChecked(*desktop_.startsAtLogin);
        QObject::connect(toggle, &QAbstractButton::clicked, &context_.actions,
                         &PanelActions::startAtLoginToggled);
        loginLayout->addWidget(toggle);
        stack->addWidget(login);
        if (desktop_.startAtLoginError) {
            QLabel* error = Kit::makeWrappingLabel(Kit::toQString(*desktop_.startAtLoginError), 11,
                                                   QFont::Normal, PanelTheme::warning(),
                                                   Kit::documentWidth, block);
            error->setObjectName(QStringLiteral("startAtLoginError"));
            stack->addWidget(error);
        }
    }
    return block;
}

QWidget* SettingsScreen::makeRow(const ProviderViewState& state, QWidget* parent) const {
    auto* row = Kit::makeTransparent(parent);
    row->setFixedSize(Kit::documentWidth, 44);
    row->setObjectName(QStringLiteral("settingsRow"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(9);
    layout->addWidget(new ProviderMarkView(state.provider, 22, PanelTheme::text(), row));
    layout->addWidget(Kit::makeLabel(Kit::displayName(state.provider), 12, QFont::Normal,
                                     PanelTheme::text(), row));
    layout->addStretch();
    auto* toggle = new ProviderSwitch(state.provider, row);
    toggle->setChecked(state.isEnabled);
    QObject::connect(toggle, &QAbstractButton::clicked, &context_.actions,
                     [&actions = context_.actions, provider = state.provider](bool checked) {
                         emit actions.providerToggled(provider, checked);
                     });
    layout->addWidget(toggle);
    return row;
}

QWidget* SettingsScreen::makeNotificationsBlock(QWidget* parent) const {
    auto* block = Kit::makeTransparent(parent);
    block->setObjectName(QStringLiteral("notificationSettings"));
    block->setFixedWidth(Kit::documentWidth);
    QVBoxLayout* stack = Kit::makeStack(block, 8);

    auto* row = Kit::makeTransparent(block);
    // As tall as the switch, like the other rows after a divider: the room around a divider is
    // the spacing alone.
    row->setFixedSize(Kit::documentWidth, 32);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(9);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(
        Kit::makeLabel(QStringLiteral("Уведомления"), 12, QFont::Normal, PanelTheme::text(), row));
    texts->addWidget(Kit::makeLabel(QStringLiteral("Когда лимит кончается или снова доступен"), 10,
                                    QFont::Normal, PanelTheme::muted(), row));
    layout->addLayout(texts);
    layout->addStretch();
    auto* toggle = new PanelSwitch(QStringLiteral("Уведомления"), row);
    toggle->setObjectName(QStringLiteral("notifications-toggle"));
    toggle->setChecked(notifications_.enabled);
    QObject::connect(toggle, &QAbstractButton::clicked, &context_.actions,
                     &PanelActions::notificationsToggled);
    layout->addWidget(toggle);
    stack->addWidget(row);

    const auto addThreshold = [&](const QString& title, const auto& choices, int selected,
                                  void (PanelActions::*chosen)(int percent), const char* name) {
        auto* line = Kit::makeTransparent(block);
        line->setFixedWidth(Kit::documentWidth);
        auto* lineLayout = new QHBoxLayout(line);
        lineLayout->setContentsMargins(0, 0, 0, 0);
        lineLayout->setSpacing(8);
        lineLayout->addWidget(Kit::makeLabel(title, 11, QFont::Normal, PanelTheme::muted(), line));
        lineLayout->addStretch();
        QStringList labels;
        int index = -1;
        for (std::size_t i = 0; i < choices.size(); ++i) {
            labels << QString::number(choices[i]) + QStringLiteral("%");
            if (choices[i] == selected) index = static_cast<int>(i);
        }
        auto* control = new SegmentedControl(labels, 44 * static_cast<int>(choices.size()), line);
        QObject::connect(control, &SegmentedControl::segmentChosen, &context_.actions,
                         [&actions = context_.actions, chosen, choices](int segment) {
                             if (segment >= 0 && segment < static_cast<int>(choices.size())) {
                                 emit(actions.*chosen)(choices[static_cast<std::size_t>(segment)]);
                             }
                         });
        if (index >= 0) control->setSelectedSegment(index);
        control->setAccessibleName(title);
        control->setObjectName(QString::fromLatin1(name));
        control->setEnabled(notifications_.enabled);
        lineLayout->addWidget(control);
        stack->addWidget(line);
    };
    addThreshold(QStringLiteral("Когда осталось меньше"), lowChoices, notifications_.thresholds.low,
                 &PanelActions::notifyBelowSelected, "notifyBelow");
    addThreshold(QStringLiteral("И ещё раз, когда меньше"), criticalChoices,
                 notifications_.thresholds.critical, &PanelActions::notifyCriticalSelected,
                 "notifyCritical");
    return block;
}

}  // namespace kestrane::ui
