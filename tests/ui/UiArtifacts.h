#pragma once

#include <QColor>
#include <QDir>
#include <QImage>
#include <QPalette>
#include <QString>

namespace kestrane::testing {

// Saves a rendered image under the build tree, so a person can look at what the tests drew.
inline void saveArtifact(const QImage& image, const QString& name) {
    const QString directory = QStringLiteral(KESTRANE_UI_ARTIFACTS);
    QDir().mkpath(directory);
    image.save(directory + QLatin1Char('/') + name + QStringLiteral(".png"));
}

// Columns of `image` (in pixels) that hold any visible pixel inside rows [top, bottom).
inline bool columnHasInk(const QImage& image, int x, int top = 0, int bottom = -1) {
    if (bottom < 0) bottom = image.height();
    for (int y = top; y < bottom; ++y) {
        if (qAlpha(image.pixel(x, y)) > 40) return true;
    }
    return false;
}

// The palettes tests install to choose light or dark, instead of relying on a desktop theme.
inline QPalette lightPalette() {
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(0xF0, 0xF0, 0xF0));
    palette.setColor(QPalette::WindowText, Qt::black);
    return palette;
}

inline QPalette darkPalette() {
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
    palette.setColor(QPalette::WindowText, QColor(0xEE, 0xEE, 0xEE));
    return palette;
}

}  // namespace kestrane::testing
