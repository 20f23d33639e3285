#pragma once

#include "CTGradient.h"

#include <QWidget>

#include <optional>

// A bar filled with a dark gradient, lighter at the top. The gradient is asked afresh on
// every draw, so a subclass may change it with its window's state.
class FennimarDarkGradientView : public QWidget
{
    Q_OBJECT

public:
    explicit FennimarDarkGradientView(QWidget *parent = nullptr);

    // CTGradient::unifiedVeryDarkGradient() (0.45 at the foot, 0.6 at the top).
    virtual CTGradient gradient() const;
    // The gradient for a disabled bar (CTGradient::unifiedDarkGradient()), made on the
    // first draw and kept; none before that.
    const std::optional<CTGradient> &disabledGradient() const { return m_disabledGradient; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void drawGradientFill(QPainter &painter);

private:
    std::optional<CTGradient> m_disabledGradient;
};
