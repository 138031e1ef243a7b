#pragma once

#include <map>
#include <optional>

#include <QByteArray>
#include <QRectF>
#include <QString>

#include "model/ProviderKind.h"

class QPainter;

namespace kestrane::ui {

// The provider marks and the app mark shared by the badge and the panel. Marks are small
// monochrome SVG drawings (black on transparent): whoever shows them tints them for the
// background they sit on, as a template image would be.
namespace ProviderArtwork {

// One vector mark; painted afresh at whatever resolution the target has, so it stays crisp.
class Image {
  public:
    // Nothing when `svg` is not a drawable SVG document.
    static std::optional<Image> fromSvg(const QByteArray& svg);
    void paint(QPainter& painter, const QRectF& target) const;
    const QByteArray& data() const { return svg_; }
    bool operator==(const Image&) const = default;

  private:
    explicit Image(QByteArray svg) : svg_(std::move(svg)) {}
    QByteArray svg_;
};

struct Set {
    // The "sparkles" symbol; absent if it cannot be loaded.
    std::optional<Image> appIcon;
    // A kind without an image is simply missing.
    std::map<model::ProviderKind, Image> images;

    const Image* image(model::ProviderKind kind) const {
        const auto found = images.find(kind);
        return found == images.end() ? nullptr : &found->second;
    }
};

// `<lower-case raw value>.svg` from `providerDirectory`; when that file does not exist, the
// kind's symbol fallback (Claude "sparkles", Kimi "moon.stars", Antigravity "atom", named
// `<symbol>.svg` in `symbolDirectory`). A file that exists but does not load gives no image.
Set load(const QString& providerDirectory, const QString& symbolDirectory);

// The marks built into the program, loaded once on first use (main thread).
const Set& shared();
inline const Image* image(model::ProviderKind kind) { return shared().image(kind); }
inline const std::optional<Image>& appIcon() { return shared().appIcon; }

// Where the built-in marks live inside the program's resources.
QString builtInProviderDirectory();
QString builtInSymbolDirectory();

}  // namespace ProviderArtwork

}  // namespace kestrane::ui
