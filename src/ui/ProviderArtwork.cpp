#include "ui/ProviderArtwork.h"

#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QSvgRenderer>

// The resources live in a static library; the linker keeps them only if something calls
// their initialiser, which must be done outside any namespace.
static void initialiseArtworkResources() { Q_INIT_RESOURCE(artwork); }

namespace kestrane::ui::ProviderArtwork {

namespace {

// Marks are a few hundred bytes; anything far larger is not one of ours.
constexpr qint64 maximumSvgBytes = 256 * 1024;

std::optional<QString> fallbackSymbol(model::ProviderKind kind) {
    switch (kind) {
        case model::ProviderKind::claude:
            return QStringLiteral("sparkles");
        case model::ProviderKind::kimi:
            return QStringLiteral("moon.stars");
        case model::ProviderKind::antigravity:
            return QStringLiteral("atom");
        case model::ProviderKind::codex:
        case model::ProviderKind::cursor:
        case model::ProviderKind::copilot:
        case model::ProviderKind::gemini:
        case model::ProviderKind::zai:
        case model::ProviderKind::minimax:
        case model::ProviderKind::openrouter:
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<Image> loadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maximumSvgBytes) return std::nullopt;
    return Image::fromSvg(file.read(maximumSvgBytes));
}

}  // namespace

std::optional<Image> Image::fromSvg(const QByteArray& svg) {
    QSvgRenderer renderer(svg);
    if (!renderer.isValid()) return std::nullopt;
    return Image(svg);
}

void Image::paint(QPainter& painter, const QRectF& target) const {
    QSvgRenderer renderer(svg_);
    renderer.setAspectRatioMode(Qt::KeepAspectRatio);
    renderer.render(&painter, target);
}

Set load(const QString& providerDirectory, const QString& symbolDirectory) {
    Set set;
    set.appIcon = loadFile(symbolDirectory + QStringLiteral("/sparkles.svg"));
    for (const model::ProviderKind kind : model::allProviderKinds) {
        // The command name: one word even where the display name has two.
        const QString name =
            QString::fromUtf8(model::commandName(kind).data(),
                              static_cast<qsizetype>(model::commandName(kind).size()));
        const QString path = providerDirectory + QLatin1Char('/') + name + QStringLiteral(".svg");
        std::optional<Image> image;
        if (QFileInfo::exists(path)) {
            image = loadFile(path);
        } else if (const auto symbol = fallbackSymbol(kind)) {
            image = loadFile(symbolDirectory + QLatin1Char('/') + *symbol + QStringLiteral(".svg"));
        }
        if (image) set.images.emplace(kind, std::move(*image));
    }
    return set;
}

QString builtInProviderDirectory() { return QStringLiteral(":/Kestrane/providers"); }
QString builtInSymbolDirectory() { return QStringLiteral(":/Kestrane/symbols"); }

const Set& shared() {
    static const Set set = [] {
        initialiseArtworkResources();
        return load(builtInProviderDirectory(), builtInSymbolDirectory());
    }();
    return set;
}

}  // namespace kestrane::ui::ProviderArtwork
