#include "ZilkPrettyHeadingField.h"

ZilkPrettyHeadingField::ZilkPrettyHeadingField(QWidget *parent)
    : QLabel(parent)
{
}

void ZilkPrettyHeadingField::paintEvent(QPaintEvent *event)
{
    QLabel::paintEvent(event);
}
