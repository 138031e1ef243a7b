#pragma once

#include <QWidget>

#include "model/ProviderKind.h"
#include "ui/PanelTheme.h"

namespace kestrane::ui {

// A provider's mark, tinted like a template image in one colour of the palette.
class ProviderMarkView : public QWidget {
    Q_OBJECT
  public:
    ProviderMarkView(model::ProviderKind provider, int side, NamedColor tint,
                     QWidget* parent = nullptr);

    model::ProviderKind provider() const { return provider_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    model::ProviderKind provider_;
    NamedColor tint_;
};

}  // namespace kestrane::ui
