#pragma once

#include <QLabel>

// A heading over an area of a window. It draws exactly as a label does; interface files
// name it for headings so that they can be found and styled as such.
class ZilkPrettyHeadingField : public QLabel
{
    Q_OBJECT

public:
    explicit ZilkPrettyHeadingField(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
