#pragma once
// A panel whose children sit at fixed positions, some of them held at a fixed distance from
// its right edge when it is resized. Positions and the designed width are at 96 dpi.

#include <QFrame>
#include <QList>
#include <QPair>

class AnchoredPanel : public QFrame {
public:
    AnchoredPanel(const char* name, int designedWidth, int height, QWidget* parent = nullptr);

    // Places `child` at (left, top) with the given size, as designed.
    void place(QWidget* child, int left, int top, int width, int height);
    // The same, and keeps the child's designed distance from the right edge.
    void placeAnchoredRight(QWidget* child, int left, int top, int width, int height);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    int FDesignedWidth;
    QList<QPair<QWidget*, int>> FRightAnchored; // child, distance from the right edge
};
