#include "widgets/png_image.h"

#include <cstring>

#include "ui/dialog.h"

namespace nerova::widgets {

namespace {

// The resource's bytes in a stream of their own: a movable, zeroed global
// block of exactly the resource's size, which the stream frees on its final
// release. An empty stream when the resource is missing.
IStream* ResourceStream(int id) {
  const HINSTANCE module = ui::ResourceModule();
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), L"PNG");
  HGLOBAL loaded = info ? LoadResource(module, info) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  const DWORD size = info ? SizeofResource(module, info) : 0;

  IStream* stream = nullptr;
  if (!bytes || size == 0) {
    return SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) ? stream : nullptr;
  }
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  if (!block) return nullptr;
  void* target = GlobalLock(block);
  if (!target) {
    GlobalFree(block);
    return nullptr;
  }
  std::memcpy(target, bytes, size);
  GlobalUnlock(block);
  if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream))) {
    GlobalFree(block);
    return nullptr;
  }
  return stream;  // the block belongs to the stream now
}

}  // namespace

std::unique_ptr<Gdiplus::Image> LoadPngImage(int id) {
  IStream* stream = ResourceStream(id);
  // Gdiplus::Image allocates itself with the GDI+ allocator; it keeps its own
  // reference to the stream for as long as it decodes from it. Without a
  // stream the image reads as 0 x 0.
  std::unique_ptr<Gdiplus::Image> image(new Gdiplus::Image(stream));
  if (stream) stream->Release();
  return image;
}

}  // namespace nerova::widgets
