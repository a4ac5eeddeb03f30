#pragma once
// Pictures kept as PNG files among the program's resources (type "PNG"),
// decoded with GDI+. GDI+ must be running (GdiplusSession).
#include <memory>

#include "widgets/gdiplus_session.h"

namespace nerova::widgets {

// A new image from PNG resource `id` of the program's module, owned by the
// caller. A missing or undecodable resource gives an image whose width and
// height read as 0; null only when the image object cannot be allocated.
std::unique_ptr<Gdiplus::Image> LoadPngImage(int id);

}  // namespace nerova::widgets
