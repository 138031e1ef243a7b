#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>

#include <gtest/gtest.h>

#include "app/desktop/PanelSettingsBinding.h"
#include "support/FixedClock.h"
#include "ui/LocalServiceStopButton.h"
#include "ui/PanelButton.h"
#include "ui/PanelContent.h"
#include "ui/PanelFixtures.h"
#include "ui/PanelSwitch.h"
#include "ui/PanelTheme.h"
#include "ui/PanelWindow.h"
#include "ui/SegmentedControl.h"
#include "ui/StopConfirmation.h"
#include "ui/UiArtifacts.h"
#include "ui/WindowButton.h"
#include "ui/WindowChooser.h"

// The panel without a mouse: Tab reaches every control in reading order with a visible mark in
// light and dark, every control tells assistive tools its name and role, and the keys do what
// a click does.
namespace kestrane::ui {
namespace {

using Mode = PanelContent::Mode;
using model::ProviderKind;
using testing::panel::kHour;
using testing::panel::kMorning;
using testing::panel::PanelProvider;

class PanelKeyboardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The ordinary window: Escape closes it too.
        panel_ = std::make_unique<PanelWindow>(PanelWindow::Presentation::window);
        controller_ = new PanelContent(clock_, moscow_);
        controller_->setVisibleFrameHeight(2000);
        new app::PanelSettingsBinding(*controller_, settingsStore_, &startAtLogin_);
        panel_->setContentView(controller_);

        model::ProviderUsage codexUsage;
        codexUsage.provider = ProviderKind::codex;
        codexUsage.windows = {{.id = "codex-session", .usedPercent = 63, .durationMinutes = 300}};
        const std::vector<PanelProvider> states = {
            testing::panel::forecastState(moscow_, kMorning, 300, 10, 30 * kHour),
            {{ProviderKind::codex, true, codexUsage, std::nullopt}, {}, {}},
        };
        testing::panel::showProviders(*controller_, states, moscow_, clock_.now());
        localservices::LocalService web;
        web.pid = 41'230;
        web.name = "node";
        web.ports = {3000};
        web.command = "node vite --port 3000";
        web.startToken = "token";
        controller_->setLocalServices({.services = {web}, .updatedAt = kMorning - 120});
        controller_->render();
        panel_->show([] { return std::nullopt; });
        panel_->activateWindow();
        QApplication::processEvents();
    }

    QWidget* focused() const { return panel_->focusWidget(); }

    // A key pressed and released on the focused control, as the window system delivers it.
    void press(int key) {
        QWidget* target = focused() ? focused() : panel_.get();
        QPointer<QWidget> guard(target);
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(target, &down);
        if (guard) {
            QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier);
            QApplication::sendEvent(guard, &up);
        }
    }

    QWidget* control(const QString& name) const {
        for (QWidget* each : controller_->focusableControls()) {
            if (each->objectName() == name) return each;
        }
        return nullptr;
    }

    platform::MemorySettingsStore settingsStore_;
    testing::panel::FakeStartAtLogin startAtLogin_;
    testing::FixedClock clock_{kMorning};
    platform::Calendar moscow_{"Europe/Moscow"};
    std::unique_ptr<PanelWindow> panel_;
    PanelContent* controller_ = nullptr;
};

TEST_F(PanelKeyboardTest, TabReachesEveryControlInReadingOrderWithAMarkAndANameOnEveryScreen) {
    ASSERT_TRUE(panel_->isActiveWindow());
    // Opening marks no control: the panel's content holds the focus.
    EXPECT_EQ(focused(), controller_);
    const QList<QAccessible::Role> controlRoles = {QAccessible::Button, QAccessible::CheckBox,
                                                   QAccessible::PageTabList, QAccessible::ComboBox};
    for (const bool dark : {false, true}) {
        panel_->setDark(dark);
        for (const Mode mode : {Mode::overview, Mode::services, Mode::settings}) {
            const QString screen = QString::fromLatin1(dark ? "dark-" : "light-") +
                                   QString::fromLatin1(mode == Mode::overview   ? "overview"
                                                       : mode == Mode::services ? "services"
                                                                                : "settings");
            SCOPED_TRACE(screen.toStdString());
            controller_->showMode(mode);
            const QList<QWidget*> stops = controller_->focusableControls();
            ASSERT_GE(stops.size(), 3);
            // Every kind of control the screen has is among them.
            if (mode == Mode::overview) {
                for (const char* name :
                     {"providerSwitch", "windowChooser", "chartStyle", "accountDetailsToggle"}) {
                    EXPECT_TRUE(control(QString::fromLatin1(name))) << name;
                }
                EXPECT_FALSE(controller_->findChildren<WindowButton*>().isEmpty());
            }

            // From the content itself, as after opening.
            controller_->setFocus(Qt::ActiveWindowFocusReason);
            QWidget* previous = nullptr;
            for (int i = 0; i < stops.size(); ++i) {
                QWidget* stop = stops[i];
                SCOPED_TRACE(stop->accessibleName().toStdString());
                const QImage unfocused = stop->grab().toImage();
                press(Qt::Key_Tab);
                ASSERT_EQ(focused(), stop);
                EXPECT_TRUE(stop->hasFocus());
                // The mark: the control looks different with the focus.
                EXPECT_NE(stop->grab().toImage(), unfocused);
                // For a person to look at: the whole panel with each control's mark.
                testing::saveArtifact(panel_->grab().toImage(),
                                      QStringLiteral("focus-%1-%2").arg(screen).arg(i));

                // Reading order: further down, or in the same row further right.
                const QPoint at = stop->mapTo(panel_.get(), stop->rect().center());
                if (previous) {
                    const QPoint before = previous->mapTo(panel_.get(), previous->rect().center());
                    const bool sameRow = std::abs(at.y() - before.y()) <= 8;
                    EXPECT_TRUE(sameRow ? at.x() > before.x() : at.y() > before.y())
                        << "after " << previous->accessibleName().toStdString();
                }
                previous = stop;

                QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(stop);
                ASSERT_TRUE(accessible);
                EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty());
                EXPECT_TRUE(controlRoles.contains(accessible->role()))
                    << "role " << accessible->role();
            }
            // Tab from the last control comes round to the first.
            press(Qt::Key_Tab);
            EXPECT_EQ(focused(), stops.constFirst());
        }
    }
}

TEST_F(PanelKeyboardTest, SegmentedControlsTellTheirTabsToAssistiveTools) {
    auto* providers = static_cast<SegmentedControl*>(control(QStringLiteral("providerSwitch")));
    ASSERT_TRUE(providers);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(providers);
    ASSERT_TRUE(accessible);
    EXPECT_EQ(accessible->role(), QAccessible::PageTabList);
    EXPECT_EQ(accessible->text(QAccessible::Name), "Провайдер");
    EXPECT_EQ(accessible->text(QAccessible::Value), "Claude");
    ASSERT_EQ(accessible->childCount(), 2);
    const QAccessibleInterface* second = accessible->child(1);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->role(), QAccessible::PageTab);
    EXPECT_EQ(second->text(QAccessible::Name), "Codex");
    EXPECT_FALSE(second->state().selected);
    EXPECT_TRUE(accessible->child(0)->state().selected);
    EXPECT_EQ(accessible->indexOfChild(second), 1);
}

// The stop question in the panel: Escape answers it and leaves the panel open, the focus goes
// back to the stop button.
TEST_F(PanelKeyboardTest, EscapeInTheStopQuestionCancelsItNotThePanel) {
    controller_->showMode(Mode::services);
    QApplication::processEvents();
    QWidget* stop = nullptr;
    for (QWidget* each : controller_->focusableControls()) {
        if (qobject_cast<LocalServiceStopButton*>(each)) stop = each;
    }
    ASSERT_TRUE(stop);
    stop->setFocus(Qt::TabFocusReason);
    int stops = 0;
    QObject::connect(controller_, &PanelContent::serviceStopRequested, [&stops] { ++stops; });
    press(Qt::Key_Space);
    QPointer<StopConfirmation> question = controller_->stopConfirmation();
    ASSERT_TRUE(question);
    EXPECT_EQ(question->window(), panel_.get());
    EXPECT_EQ(focused(), question->stopButton());
    QApplication::processEvents();
    testing::saveArtifact(panel_->grab().toImage(), QStringLiteral("stop-confirmation"));
    press(Qt::Key_Escape);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(question);
    EXPECT_EQ(stops, 0);
    EXPECT_TRUE(panel_->isVisible());
    EXPECT_EQ(focused(), stop);
}

TEST_F(PanelKeyboardTest, KeysDoWhatAClickDoesAndTheFocusStaysOnTheControl) {
    // Arrows move within a segmented control; the screen is built again, the focus stays.
    control(QStringLiteral("providerSwitch"))->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Right);
    EXPECT_EQ(controller_->selectedProvider(), ProviderKind::codex);
    ASSERT_TRUE(focused());
    EXPECT_EQ(focused()->objectName(), "providerSwitch");
    press(Qt::Key_Right);  // already the last segment
    EXPECT_EQ(controller_->selectedProvider(), ProviderKind::codex);
    press(Qt::Key_Left);
    EXPECT_EQ(controller_->selectedProvider(), ProviderKind::claude);
    EXPECT_EQ(static_cast<SegmentedControl*>(focused())->selectedSegment(), 0);

    control(QStringLiteral("chartStyle"))->setFocus(Qt::TabFocusReason);
    press(Qt::Key_End);
    EXPECT_TRUE(controller_->chartShowsBurn());
    press(Qt::Key_Home);
    EXPECT_FALSE(controller_->chartShowsBurn());
    EXPECT_EQ(focused()->objectName(), "chartStyle");

    // The other window's row: Enter shows its history.
    controller_->findChildren<WindowButton*>().constFirst()->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Return);
    EXPECT_EQ(controller_->selectedWindowIDs().at(ProviderKind::claude), "claude-session");

    // The chooser: Enter opens its list, arrows and Enter choose, the focus comes back.
    control(QStringLiteral("windowChooser"))->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Enter);
    auto* chooser = static_cast<WindowChooser*>(control(QStringLiteral("windowChooser")));
    ASSERT_TRUE(chooser->popupList());
    EXPECT_EQ(focused(), chooser->popupList());
    press(Qt::Key_Up);
    press(Qt::Key_Return);
    EXPECT_EQ(controller_->selectedWindowIDs().at(ProviderKind::claude), "claude-week");
    ASSERT_TRUE(focused());
    EXPECT_EQ(focused()->objectName(), "windowChooser");

    // Space on "Детали аккаунта".
    control(QStringLiteral("accountDetailsToggle"))->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Space);
    EXPECT_TRUE(controller_->showsAccountDetails());
    EXPECT_EQ(focused()->accessibleName(), "Скрыть детали аккаунта");

    // The header's settings button: a new screen, the focus on its first control.
    control(QStringLiteral("modeButton"))->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Return);
    EXPECT_EQ(controller_->mode(), Mode::settings);
    const QList<QWidget*> settings = controller_->focusableControls();
    ASSERT_GE(settings.size(), 2);
    // The header's back button comes first, then the screen.
    EXPECT_EQ(settings[0]->objectName(), "modeButton");
    EXPECT_EQ(focused(), settings[1]);

    // Space on a provider's switch asks for it to be turned off.
    std::vector<std::pair<ProviderKind, bool>> toggled;
    QObject::connect(controller_, &PanelContent::providerToggleRequested,
                     [&](ProviderKind kind, bool on) { toggled.emplace_back(kind, on); });
    ASSERT_TRUE(qobject_cast<PanelSwitch*>(focused()));
    press(Qt::Key_Space);
    ASSERT_EQ(toggled.size(), 1u);
    EXPECT_FALSE(toggled[0].second);
    control(QStringLiteral("panelAppearance"))->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Right);
    EXPECT_EQ(controller_->panelAppearance(), app::PanelAppearance::light);
    EXPECT_EQ(focused()->objectName(), "panelAppearance");

    // Back to the limits by Enter; then Escape closes the window.
    control(QStringLiteral("modeButton"))->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Return);
    EXPECT_EQ(controller_->mode(), Mode::overview);
    EXPECT_EQ(focused(), control(QStringLiteral("providerSwitch")));
    int closes = 0;
    QObject::connect(panel_.get(), &PanelWindow::closed, [&closes] { ++closes; });
    press(Qt::Key_Escape);
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(panel_->isVisible());
}

}  // namespace
}  // namespace kestrane::ui
