#pragma once

#include "FennimarDarkGradientView.h"

// A dark bar along the edge of a window's area with a one-pixel dark grey line along its
// top edge. Very dark while its window is the active one, the normal light grey gradient
// otherwise; it repaints itself when its window gains or loses activation.
class FennimarDarkGradientPanelDecor : public FennimarDarkGradientView
{
    Q_OBJECT

public:
    using FennimarDarkGradientView::FennimarDarkGradientView;

    // CTGradient::unifiedVeryVeryDarkGradient() (0.2 to 0.4) while the window is active,
    // CTGradient::unifiedNormalGradient() (0.75 to 0.9) while it is not.
    CTGradient gradient() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;
};
