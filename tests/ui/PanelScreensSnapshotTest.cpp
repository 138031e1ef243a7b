#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>

#include <gtest/gtest.h>

#include "app/desktop/PanelSettingsBinding.h"
#include "support/FixedClock.h"
#include "ui/PanelContent.h"
#include "ui/PanelFixtures.h"
#include "ui/PanelTheme.h"
#include "ui/PanelWindow.h"
#include "ui/UiArtifacts.h"
#include "ui/WindowChooser.h"
#include "ui/WindowCompositing.h"

// Every screen of the panel rendered offscreen in light and dark, with and without a
// compositing window system, saved under the build tree (ui-artifacts/screen-*.png) for a
// person to look at, and checked for what a person would notice: two tones of background,
// black or missing corners, cut texts.
namespace kestrane::ui {
namespace {

using model::ProviderKind;
using testing::panel::kHour;
using testing::panel::kMorning;
using testing::panel::PanelProvider;

struct Screen {
    const char* name;
    std::vector<PanelProvider> states;
    PanelContent::Mode mode = PanelContent::Mode::overview;
    bool burn = false;
    localservices::LocalServicesViewState services;
    // Where to put the pointer, in the chart's coordinates.
    std::optional<QPointF> hover;
};

localservices::LocalService row(int pid, std::string name, std::vector<int> ports,
                                std::string command) {
    localservices::LocalService service;
    service.pid = pid;
    service.name = std::move(name);
    service.ports = std::move(ports);
    service.command = std::move(command);
    service.startToken = "token";
    return service;
}

std::vector<Screen> screens(const platform::Calendar& calendar) {
    auto forecast = testing::panel::forecastState(calendar, kMorning, 3000, 10, 30 * kHour);
    model::ProviderUsage codexUsage;
    codexUsage.provider = ProviderKind::codex;
    codexUsage.windows = {{.id = "codex-session", .usedPercent = 63, .durationMinutes = 300}};
    const PanelProvider codex{{ProviderKind::codex, true, codexUsage, std::nullopt}, {}, {}};
    const PanelProvider cursorFailed{
        {ProviderKind::cursor, true, std::nullopt, "Не удалось подключиться к серверу."}, {}, {}};
    const PanelProvider kimiOff{{ProviderKind::kimi, false, std::nullopt, std::nullopt}, {}, {}};
    const PanelProvider antigravityOff{
        {ProviderKind::antigravity, false, std::nullopt, std::nullopt}, {}, {}};
    const std::vector<PanelProvider> all = {codex, cursorFailed, forecast, kimiOff, antigravityOff};

    auto web = row(41'230, "node", {3000, 9229},
                   "node /home/dev/src/shop/node_modules/.bin/vite --port 3000");
    web.cpuPercent = 3.4;
    web.memoryBytes = 312ull * 1024 * 1024;
    web.startedAt = kMorning - 5400;
    web.project = localservices::LocalServiceProject{"shop", "/home/dev/src/shop"};
    auto worker = row(52'001, "python3", {}, "python3 -m celery worker --loglevel=info");
    worker.cpuPercent = 87.0;
    worker.memoryBytes = 2ull * 1024 * 1024 * 1024 + 300ull * 1024 * 1024;
    worker.workingDirectory = "/srv/jobs";
    auto old = row(1'022, "ruby", {8080}, "ruby bin/rails server -p 8080");
    old.startToken.reset();
    old.cpuPercent = 0.0;

    std::vector<Screen> list;
    list.push_back({"overview-forecast-remaining",
                    all,
                    PanelContent::Mode::overview,
                    false,
                    {},
                    QPointF(300, 90)});
    list.push_back(
        {"overview-forecast-burn", all, PanelContent::Mode::overview, true, {}, QPointF(200, 90)});
    // A session window with a week of past cycles: the forecast's track record has figures.
    list.push_back({"overview-track-record", {testing::panel::sessionState(calendar, kMorning)}});
    Screen error{"overview-error", all};
    error.states[2].isEnabled = false;
    error.states[0].isEnabled = false;
    list.push_back(error);
    list.push_back({"overview-empty",
                    {{{ProviderKind::codex, false, std::nullopt, std::nullopt}, {}, {}}, kimiOff}});
    list.push_back({"settings", all, PanelContent::Mode::settings});
    list.push_back({"services",
                    all,
                    PanelContent::Mode::services,
                    false,
                    {.services = {web, worker, old},
                     .error = "SIGTERM отправлен, но процесс пока продолжает работать.",
                     .updatedAt = kMorning - 120,
                     .stoppingServiceIDs = {worker.id()}}});
    return list;
}

class FixedCompositing final : public WindowCompositing {
  public:
    explicit FixedCompositing(bool composited) : composited_(composited) {}
    bool isComposited() const override { return composited_; }

  private:
    bool composited_;
};

// A panel showing one screen, laid out as on a display.
class ShownPanel {
  public:
    ShownPanel(const Screen& screen, bool dark, bool composited, const platform::Calendar& calendar,
               const platform::Clock& clock)
        : panel_(PanelWindow::Presentation::floating,
                 std::make_unique<FixedCompositing>(composited)) {
        settingsStore_.setValue("selectedProvider", "Claude");
        settingsStore_.setValue("chartShowsBurn", screen.burn);
        panel_.setPalette(dark ? testing::darkPalette() : testing::lightPalette());
        controller_ = new PanelContent(clock, calendar);
        controller_->setVisibleFrameHeight(1080);
        new app::PanelSettingsBinding(*controller_, settingsStore_, nullptr);
        panel_.setContentView(controller_);
        QObject::connect(controller_, &PanelContent::contentSizeChanged, &panel_,
                         [this](QSize size) { panel_.resize(size); });
        testing::panel::showProviders(*controller_, screen.states, calendar, clock.now());
        controller_->setLocalServices(screen.services);
        if (screen.mode == PanelContent::Mode::settings) controller_->toggleMode();
        if (screen.mode == PanelContent::Mode::services) {
            controller_->showServices();
        }
        controller_->render();
        panel_.resize(controller_->preferredContentSize());
        panel_.QWidget::show();
        QApplication::processEvents();
    }
    ~ShownPanel() { panel_.close(); }

    PanelWindow& panel() { return panel_; }
    PanelContent& controller() { return *controller_; }
    QWidget* document() { return controller_->scrollView()->widget(); }

    // What the panel paints, on a clear image: where nothing is drawn, alpha stays 0.
    QImage image() {
        QImage image(panel_.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        panel_.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    }

  private:
    platform::MemorySettingsStore settingsStore_;
    PanelWindow panel_;
    PanelContent* controller_ = nullptr;
};

// `image` over a plain desktop colour, as a person would see a translucent panel.
QImage overDesktop(const QImage& image, bool dark) {
    QImage shown(image.size(), QImage::Format_ARGB32_Premultiplied);
    shown.fill(dark ? QColor(0x30, 0x38, 0x40) : QColor(0xA8, 0xB4, 0xC0));
    QPainter painter(&shown);
    painter.drawImage(0, 0, image);
    return shown;
}

// Every label shows its whole text: what the text needs at the label's width (wrapped where
// the label wraps) fits the label's rectangle, and the label lies inside the document.
void expectLabelsFit(QWidget* document) {
    for (const QLabel* label : document->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(document) || label->text().isEmpty()) continue;
        SCOPED_TRACE(label->objectName().toStdString() + ": " + label->text().toStdString());
        const QRect room = label->contentsRect();
        const int flags = Qt::AlignLeft | Qt::AlignTop |
                          (label->wordWrap() ? Qt::TextWordWrap : Qt::TextSingleLine);
        const QRect needed =
            QFontMetrics(label->font())
                .boundingRect(QRect(0, 0, room.width(), 100'000), flags, label->text());
        EXPECT_LE(needed.height(), room.height());
        EXPECT_LE(needed.width(), room.width());
        // The document column starts 20 into the scrolled area.
        const QRect inArea(label->mapTo(document, QPoint()), label->size());
        EXPECT_GE(inArea.left(), 20);
        EXPECT_LE(inArea.right(), 20 + PanelContent::documentWidth - 1);
    }
}

TEST(PanelScreensSnapshotTest, EveryScreenInLightAndDark) {
    const platform::Calendar moscow("Europe/Moscow");
    const testing::FixedClock clock(kMorning);
    for (const Screen& screen : screens(moscow)) {
        for (const bool dark : {false, true}) {
            for (const bool composited : {true, false}) {
                const QString name =
                    QStringLiteral("screen-%1-%2%3")
                        .arg(QString::fromLatin1(screen.name),
                             dark ? QStringLiteral("dark") : QStringLiteral("light"),
                             composited ? QString() : QStringLiteral("-square"));
                SCOPED_TRACE(name.toStdString());
                ShownPanel shown(screen, dark, composited, moscow, clock);
                if (screen.hover) {
                    QWidget* chart =
                        shown.document()->findChild<QWidget*>(QStringLiteral("usageChart"));
                    ASSERT_NE(chart, nullptr);
                    QMouseEvent move(QEvent::MouseMove, *screen.hover,
                                     chart->mapToGlobal(*screen.hover), Qt::NoButton, Qt::NoButton,
                                     Qt::NoModifier);
                    QApplication::sendEvent(chart, &move);
                }
                EXPECT_EQ(shown.panel().hasRoundedCorners(), composited);
                const QImage image = shown.image();
                testing::saveArtifact(overDesktop(image, dark), name);

                ASSERT_EQ(image.width(), 448);
                ASSERT_GT(image.height(), 100);
                const int w = image.width();
                const int h = image.height();
                // One backdrop gives the panel its colour: the header's margin and the body's
                // margin, high and low, are the same colour, and it follows the palette.
                const QColor header = image.pixelColor(10, 30);
                EXPECT_EQ(image.pixelColor(10, h / 2), header);
                EXPECT_EQ(image.pixelColor(10, h - 20), header);
                EXPECT_EQ(image.pixelColor(w - 10, h - 20), header);
                EXPECT_EQ(dark, header.lightness() < 128);
                // The edge line shows all round.
                EXPECT_NE(image.pixelColor(0, h / 2), header);
                EXPECT_NE(image.pixelColor(w - 1, h / 2), header);
                EXPECT_NE(image.pixelColor(w / 2, h - 1), header);
                // Rounded corners are clear; square ones are the backdrop with its edge, never
                // black or clear.
                for (const QPoint corner :
                     {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1)}) {
                    SCOPED_TRACE(corner.x() * 10'000 + corner.y());
                    const QColor pixel = image.pixelColor(corner);
                    if (composited) {
                        EXPECT_EQ(pixel.alpha(), 0);
                    } else {
                        EXPECT_EQ(pixel.alpha(), 255);
                        EXPECT_EQ(pixel, image.pixelColor(0, h / 2));
                        const QPoint inside(corner.x() == 0 ? 2 : w - 3,
                                            corner.y() == 0 ? 2 : h - 3);
                        EXPECT_EQ(image.pixelColor(inside), header);
                    }
                }
                expectLabelsFit(shown.document());
            }
        }
    }
}

// The forecast's four verdicts, each with its longest advice: every line shows whole.
TEST(PanelScreensSnapshotTest, ForecastTextsShowWholeForEveryVerdict) {
    const platform::Calendar moscow("Europe/Moscow");
    const testing::FixedClock clock(kMorning);
    const struct {
        const char* name;
        double used;
        double rate;
        double resetIn;
        const char* title;
        // Quiet and busy days in turn, so the days disagree about what is left.
        bool unevenDays = false;
    } cases[] = {
        {"spare", 20, 0.6, 30 * kHour, "Есть запас для экспериментов"},
        {"steady", 60, 1.2, 30 * kHour, "Лимита должно хватить"},
        {"caution", 60, 0.8, 30 * kHour, "Запас небольшой", true},
        {"shortage", 88, 1.5, 50 * kHour, "Лимит может закончиться раньше"},
    };
    for (const auto& testCase : cases) {
        for (const bool dark : {false, true}) {
            SCOPED_TRACE(std::string(testCase.name) + (dark ? " dark" : " light"));
            auto state = testing::panel::forecastState(moscow, kMorning, 600, 10, testCase.resetIn,
                                                       testCase.used, testCase.rate);
            if (testCase.unevenDays) {
                auto& hours = state.rhythms.at("claude-week").hours;
                for (std::size_t i = 0; i < hours.size(); ++i) {
                    if (i / 24 % 2 == 1) hours[i].usedPercent *= 4;
                }
            }
            Screen screen{"verdict", {state}};
            ShownPanel shown(screen, dark, true, moscow, clock);
            const auto* title =
                shown.document()->findChild<QLabel*>(QStringLiteral("forecastTitle"));
            ASSERT_NE(title, nullptr);
            EXPECT_EQ(title->text(), QString::fromUtf8(testCase.title));
            const auto* advice =
                shown.document()->findChild<QLabel*>(QStringLiteral("forecastGuidance"));
            ASSERT_NE(advice, nullptr);
            testing::saveArtifact(
                overDesktop(shown.image(), dark),
                QStringLiteral("verdict-%1-%2")
                    .arg(QString::fromLatin1(testCase.name),
                         dark ? QStringLiteral("dark") : QStringLiteral("light")));
            expectLabelsFit(shown.document());
        }
    }
}

// The window chooser's list is a card of the panel, inside the panel, without the system's
// highlight colour, and choosing a row in it selects that window.
TEST(PanelScreensSnapshotTest, WindowChooserListIsDrawnInsideThePanel) {
    const platform::Calendar moscow("Europe/Moscow");
    const testing::FixedClock clock(kMorning);
    for (const bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        auto state = testing::panel::forecastState(moscow, kMorning, 600, 10, 30 * kHour);
        // A long title makes the list wider than the chooser.
        state.usage->windows[1].name = "Сессия с очень длинным названием окна лимита";
        ShownPanel shown(Screen{"chooser", {state}}, dark, true, moscow, clock);
        auto* chooser =
            shown.document()->findChild<WindowChooser*>(QStringLiteral("windowChooser"));
        ASSERT_NE(chooser, nullptr);
        chooser->showPopup();
        QWidget* list = chooser->popupList();
        ASSERT_NE(list, nullptr);
        EXPECT_FALSE(list->isWindow());
        EXPECT_EQ(list->window(), &shown.panel());
        const QRect card = chooser->popupRect();
        EXPECT_GE(card.left(), 8);
        EXPECT_GE(card.top(), 8);
        EXPECT_LE(card.right(), shown.panel().width() - 8);
        EXPECT_LE(card.bottom(), shown.panel().height() - 8);
        const int widest = QFontMetrics(chooser->font()).horizontalAdvance(chooser->itemText(1));
        EXPECT_GT(card.width(), widest);

        const QImage image = shown.image();
        testing::saveArtifact(overDesktop(image, dark),
                              QStringLiteral("window-chooser-%1")
                                  .arg(dark ? QStringLiteral("dark") : QStringLiteral("light")));
        // The card colour in its padding, the panel colour on the highlighted (current) row.
        EXPECT_EQ(image.pixelColor(card.left() + 2, card.center().y()),
                  PanelTheme::card().resolve(dark));
        const int currentRow = card.top() + 4 + chooser->currentIndex() * 24;
        EXPECT_EQ(image.pixelColor(card.left() + 6, currentRow + 12),
                  PanelTheme::panel().resolve(dark));
        const QColor systemHighlight = shown.panel().palette().color(QPalette::Highlight);
        int highlighted = 0;
        for (int y = card.top(); y <= card.bottom(); ++y) {
            for (int x = card.left(); x <= card.right(); ++x) {
                highlighted += image.pixelColor(x, y) == systemHighlight ? 1 : 0;
            }
        }
        EXPECT_EQ(highlighted, 0);

        // A click on the other row chooses it; the list goes away.
        const int other = 1 - chooser->currentIndex();
        const QPointF point(card.center().x(), card.top() + 4 + other * 24 + 12);
        const QPointF local = list->mapFrom(&shown.panel(), point);
        QMouseEvent press(QEvent::MouseButtonPress, local, list->mapToGlobal(local), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, local, list->mapToGlobal(local),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(list, &press);
        QApplication::sendEvent(list, &release);
        EXPECT_EQ(shown.controller().selectedWindowIDs().at(model::ProviderKind::claude),
                  state.usage->windows[static_cast<std::size_t>(other)].id);
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(shown.panel().findChild<QWidget*>(QStringLiteral("windowChooserList")), nullptr);
    }
}

// Claude is running short of its week while Codex has room: the overview says to use Codex,
// in one line above the provider switch.
TEST(PanelScreensSnapshotTest, OverviewNamesTheServiceToUseNowAboveTheSwitch) {
    const platform::Calendar moscow("Europe/Moscow");
    const testing::FixedClock clock(kMorning);
    PanelProvider claude = testing::panel::forecastState(moscow, kMorning, 3000, 10, 30 * kHour);
    claude.usage->windows[0].usedPercent = 80;
    claude.history["claude-week"] =
        testing::panel::weekSeries(ProviderKind::claude, "claude-week", kMorning, 3000, 80);
    claude.rhythms["claude-week"] = testing::panel::workdayRhythm(moscow, kMorning, 10, 3.0);

    model::ProviderUsage codexUsage;
    codexUsage.provider = ProviderKind::codex;
    codexUsage.updatedAt = kMorning - 60;
    codexUsage.windows = {{.id = "codex-session",
                           .usedPercent = 30,
                           .durationMinutes = 300,
                           .resetsAt = kMorning + 3 * kHour}};
    PanelProvider codex{{ProviderKind::codex, true, codexUsage, std::nullopt}, {}, {}};
    history::UsageSeries series{ProviderKind::codex,  "codex-session",
                                std::string(64, 'a'), 300,
                                kMorning + 3 * kHour, {{kMorning - 60, 30, true, std::nullopt}}};
    codex.history.emplace("codex-session", series);
    const PanelProvider cursorFailed{
        {ProviderKind::cursor, true, std::nullopt, "Не удалось подключиться к серверу."}, {}, {}};

    platform::MemorySettingsStore settingsStore;
    settingsStore.setValue("selectedProvider", "Claude");
    PanelWindow panel(PanelWindow::Presentation::floating);
    panel.setPalette(testing::lightPalette());
    auto* controller = new PanelContent(clock, moscow);
    controller->setVisibleFrameHeight(1080);
    new app::PanelSettingsBinding(*controller, settingsStore, nullptr);
    panel.setContentView(controller);
    QObject::connect(controller, &PanelContent::contentSizeChanged, &panel,
                     [&panel](QSize size) { panel.resize(size); });
    testing::panel::showProviders(*controller, {codex, cursorFailed, claude}, moscow, clock.now());
    controller->render();
    panel.resize(controller->preferredContentSize());
    panel.QWidget::show();
    QApplication::processEvents();

    QWidget* document = controller->scrollView()->widget();
    auto* line = document->findChild<QLabel*>(QStringLiteral("service-recommendation"));
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->text(), QStringLiteral("Сейчас лучше Codex: осталось 70%, сброс через 3 ч. "
                                           "0 мин., а у Claude лимит может закончиться до "
                                           "сброса."));
    QWidget* providerSwitch = document->findChild<QWidget*>(QStringLiteral("providerSwitch"));
    ASSERT_NE(providerSwitch, nullptr);
    EXPECT_LT(line->mapTo(document, QPoint()).y(), providerSwitch->mapTo(document, QPoint()).y());

    QImage image(panel.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(0xA8, 0xB4, 0xC0));
    panel.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    testing::saveArtifact(image, QStringLiteral("screen-overview-recommendation-light"));
    panel.close();

    // Once Claude is fine again there is nothing to choose between.
    claude.usage->windows[0].usedPercent = 10;
    claude.rhythms["claude-week"] = testing::panel::workdayRhythm(moscow, kMorning, 10, 0.2);
    testing::panel::showProviders(*controller, {codex, cursorFailed, claude}, moscow, clock.now());
    controller->render();
    EXPECT_EQ(controller->scrollView()->widget()->findChild<QLabel*>(
                  QStringLiteral("service-recommendation")),
              nullptr);
}

}  // namespace
}  // namespace kestrane::ui
