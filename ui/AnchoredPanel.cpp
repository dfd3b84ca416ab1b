#include "ui/AnchoredPanel.h"

AnchoredPanel::AnchoredPanel(const char* name, int designedWidth, int height, QWidget* parent)
    : QFrame(parent), FDesignedWidth(designedWidth) {
    setObjectName(name);
    setFixedHeight(height);
    setMinimumWidth(0);
}

void AnchoredPanel::place(QWidget* child, int left, int top, int width, int height) {
    child->setParent(this);
    child->setGeometry(left, top, width, height);
}

void AnchoredPanel::placeAnchoredRight(QWidget* child, int left, int top, int width, int height) {
    place(child, left, top, width, height);
    FRightAnchored.append({child, FDesignedWidth - left - width});
}

void AnchoredPanel::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    for (const auto& [child, distance] : FRightAnchored)
        child->move(width() - distance - child->width(), child->y());
}
