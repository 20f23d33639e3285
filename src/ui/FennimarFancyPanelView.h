#pragma once

#include <QColor>
#include <QWidget>

// The background of a panel: a very light grey face with a 60-pixel band at its foot,
// darker toward the bottom, under a two-tone ridge (a light grey line over a white one).
// Controls laid out in the band, such as a dialog's buttons, stand on it.
class FennimarFancyPanelView : public QWidget
{
    Q_OBJECT

public:
    explicit FennimarFancyPanelView(QWidget *parent = nullptr);

    // The height of the band at the foot.
    static constexpr int BandHeight = 60;
    // The band's colours: light grey highlighted by half and shadowed by a tenth (about
    // 0.75) at the bottom, very very light grey shadowed by a tenth (about 0.873) at the top.
    static QColor bandBottomColor();
    static QColor bandTopColor();

protected:
    void paintEvent(QPaintEvent *event) override;
};
