#pragma once
// The console's pictures, compiled in as resources (console/widgets/images,
// drawn by console/tools/imagegen).

#include <QIcon>
#include <QPixmap>

namespace images {

// Bitmap 204 (48 x 48 cells) and 211 (16 x 16 cells): 0 ordinary server, 1 the read-only Default server.
inline constexpr int kServerImage = 0;
inline constexpr int kReadOnlyServerImage = 1;
QPixmap LargeServerImage(int index);
QPixmap SmallServerImage(int index);
// Both sizes of one list image, for views that pick their own size.
QIcon ServerIcon(int index);

QIcon ProgramIcon();     // icon 128, 32 x 32 and 16 x 16
QPixmap AboutBitmap();   // bitmap 201
QIcon CloseIcon();       // icon 205
QIcon NewServerIcon();   // icon 206
QIcon ActivityIcon();    // icon 207
QIcon DeleteIcon();      // icon 209
QIcon SaveIcon();        // icon 210

} // namespace images
