#pragma once

#include "CTGradient.h"

#include <QWidget>

#include <optional>

// A bar filled with a light gradient, lighter at the top. Drawing is off until
// awakeFromNib() (called when an interface file creates the bar) or setDrawGradient(true);
// while it is off the bar draws nothing and lets its parent show through.
class FennimarGradientView : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool drawGradient READ drawGradient WRITE setDrawGradient)

public:
    explicit FennimarGradientView(QWidget *parent = nullptr);

    // Turns the gradient on, as for a bar placed by an interface file.
    virtual void awakeFromNib();

    void setDrawGradient(bool draw);
    bool drawGradient() const { return m_drawGradient; }
    // Whether the bar covers every pixel it owns: only while it draws its gradient.
    bool isOpaque() const { return m_drawGradient; }

    // The fill, asked once on the first draw and kept for the bar's lifetime:
    // CTGradient::unifiedSelectedGradient() (0.85 at the foot, 0.95 at the top).
    virtual CTGradient gradient() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    // Fills the bar, position 0 of the gradient along the bottom edge and 1 along the top.
    void drawGradientFill(QPainter &painter);

private:
    std::optional<CTGradient> m_gradient;
    bool m_drawGradient = false;
};
