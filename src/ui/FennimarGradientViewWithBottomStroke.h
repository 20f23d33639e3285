#pragma once

#include "FennimarGradientView.h"

// A gradient bar with a one-pixel dark grey line along its bottom edge, to set it off from
// what lies below.
class FennimarGradientViewWithBottomStroke : public FennimarGradientView
{
    Q_OBJECT

public:
    using FennimarGradientView::FennimarGradientView;

protected:
    void paintEvent(QPaintEvent *event) override;
};
