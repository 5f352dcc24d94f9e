#pragma once
// Plain rectangles and sizes for the flat look's measuring rules. A rectangle
// holds its left and top edges and ends before right and bottom.

struct XPRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }

    friend bool operator==(const XPRect&, const XPRect&) = default;
};

struct XPSize {
    int width = 0;
    int height = 0;

    friend bool operator==(const XPSize&, const XPSize&) = default;
};

// The command images are 16 by 15 pixels; a button cell is the image with 3
// pixels around it.
struct XPCells {
    int cxImage = 16;
    int cyImage = 15;
    int cxButton = 22;
    int cyButton = 21;
};
